#pragma once

#include <QString>

// The texts of the about box.
namespace About {

QString Caption();      // "About Fernlog"
QString Title();        // the program title
QString VersionLine();  // "Version major.minor.revision"
QString Description();  // the maker's notice and the support address
QString SupportAddress();

}  // namespace About
