#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A device's identification: the answer to CmdIdentify and what it names.
namespace Protocol {

struct Identification {
    qint16 family = 0;  // 3: Zolo, 5: QX7xx
    qint16 model = 0;
    qint16 build = 0;  // firmware build
};

// Reads family, model and build in that order. Stops at the first field that
// is missing from a short answer or does not fit 16 bits (32768 and above),
// with the reason in `error`; the fields read before it keep their new values.
bool DecodeIdentification(const QByteArray& answer, Identification& id, QString* error = nullptr);

// "family.model.build", as devices are shown to users.
QString IdentificationText(const Identification& id);

// The model text of a device, from its family and model numbers.
QString ModelText(int family, int model);
// What a device is called before it was identified.
QString UnknownModelText();

}  // namespace Protocol
