#include "protocol/Identification.h"

#include "protocol/Answers.h"
#include "protocol/Bytes.h"

namespace Protocol {
namespace {

bool ReadNumber(const QByteArray& answer, int position, qint16& field, QString* error) {
    if (answer.size() < position + 1) {
        if (error) {
            *error = QStringLiteral("The answer is %1 bytes long; %2 are needed.")
                         .arg(answer.size())
                         .arg(position + 1);
        }
        return false;
    }
    const int value = 256 * ByteAt(answer, position) + ByteAt(answer, position + 1);
    if (value > 32767) {
        if (error) *error = QStringLiteral("Overflow: identification number %1").arg(value);
        return false;
    }
    field = static_cast<qint16>(value);
    return true;
}

}  // namespace

bool DecodeIdentification(const QByteArray& answer, Identification& id, QString* error) {
    return ReadNumber(answer, IdentifyAnswer::kFamily, id.family, error) &&
           ReadNumber(answer, IdentifyAnswer::kModel, id.model, error) &&
           ReadNumber(answer, IdentifyAnswer::kBuild, id.build, error);
}

QString IdentificationText(const Identification& id) {
    return QStringLiteral("%1.%2.%3").arg(id.family).arg(id.model).arg(id.build);
}

QString ModelText(int family, int model) {
    // Tested in this order: a Zolo 604 is family 3, model 4, and must not be
    // taken for the 4-20 mA monitor below.
    struct Entry {
        int family;  // 0: any family
        int model;
        const char* text;
    };
    static const Entry table[] = {
        {5, 5, "Model QX700-5: Refrigerator/Freezer Keeper"},
        {5, 8, "Model QX700-8: Computer Room Keeper"},
        {5, 10, "Model QX700-10: Property Keeper"},
        {5, 40, "Model QX740: Temperature and Power Keeper"},
        {3, 3, "Zolo 603: Refrigerator/Freezer netKeeper"},
        {3, 4, "Zolo 604: Computer Room netKeeper"},
        {3, 5, "Zolo 605: Refrigerator/Freezer netKeeper"},
        {0, 20, "Model QX720: High Temperature Keeper"},
        {0, 4, "Model QX700-4: 4-20ma Monitor"},
    };
    for (const Entry& e : table) {
        if ((e.family == 0 || e.family == family) && e.model == model) {
            return QString::fromLatin1(e.text);
        }
    }
    return QStringLiteral("Server model could not be determined");
}

QString UnknownModelText() {
    return QStringLiteral("Unknown server model");
}

}  // namespace Protocol
