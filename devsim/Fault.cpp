#include "Fault.h"

#include <array>
#include <utility>

namespace devsim {

namespace {
const std::array<std::pair<Fault, const char*>, 13> kNames{{
    {Fault::None, "none"},
    {Fault::Busy, "busy"},
    {Fault::Refuse, "refuse"},
    {Fault::Silent, "silent"},
    {Fault::Short, "short"},
    {Fault::Split, "split"},
    {Fault::Long, "long"},
    {Fault::WrongEcho, "wrong-echo"},
    {Fault::ErrorText, "error"},
    {Fault::CloseMidAnswer, "close"},
    {Fault::Delay, "delay"},
    {Fault::Garbage, "garbage"},
    {Fault::Huge, "huge"},
}};
}  // namespace

QString faultName(Fault fault) {
    for (const auto& [f, name] : kNames)
        if (f == fault) return QString::fromLatin1(name);
    return {};
}

std::optional<Fault> faultFromName(const QString& name) {
    for (const auto& [f, n] : kNames)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0) return f;
    return std::nullopt;
}

}  // namespace devsim
