#include "pages/PageMaps.h"

namespace Pages {

std::vector<Field> PageMap(Window window) {
    std::vector<Field> map;
    auto add = [&map](int page, int position, Box box, int index) {
        map.push_back({page, position, box, index});
    };
    auto limits = [&](int ports) {
        for (int k = 0; k < ports; ++k) {
            add(0, QX7xxPage0::LowerLimit(k), Box::Lower, k);
            add(0, QX7xxPage0::UpperLimit(k), Box::Upper, k);
            add(0, QX7xxPage0::Time(k), Box::Time, k);
        }
    };
    auto names = [&](int ports) {
        for (int k = 0; k < ports; ++k)
            add(QX7xxNames::Page(k), QX7xxNames::Position(k), Box::Name, k);
    };
    switch (window) {
        case Window::frmQX705:
            limits(8);
            add(0, QX7xxPage0::kRelayLogic, Box::RelayLogic, -1);
            add(1, QX7xxPage1::kFirstTime, Box::Time, 8);
            add(1, QX7xxPage1::kSecondTime, Box::Time, 9);
            names(10);
            for (int k = 0; k < 8; ++k)
                add(QX705Page12::kPage, QX705Page12::Correction(k), Box::Correction, k);
            add(QX705Page12::kPage, QX705Page12::kErroneousBits, Box::ErroneousBits, -1);
            add(QX705Page12::kPage, QX705Page12::kErroneousCount, Box::ErroneousCount, -1);
            break;
        case Window::frmQX708:
            limits(8);
            add(1, QX7xxPage1::kFirstTime, Box::Time, 8);
            names(9);
            break;
        case Window::frmQX720:
            limits(4);
            add(1, QX7xxPage1::kFirstTime, Box::Time, 4);
            names(4);
            // The dry contact input's name sits where the others keep their last port.
            add(QX7xxNames::kLastPage, QX7xxNames::kEvenPort, Box::Name, 4);
            break;
        case Window::frmQX740:
            limits(4);
            for (int j = 0; j < 4; ++j) {
                add(0, QX7xxPage0::PowerNormalState(j), Box::NormalState, 4 + j);
                add(0, QX7xxPage0::PowerTime(j), Box::Time, 4 + j);
            }
            add(1, QX7xxPage1::kFirstTime, Box::Time, 8);
            names(9);
            break;
        case Window::frmZolo:
            for (int k = 0; k < 2; ++k) {
                add(0, ZoloPage0::LowerLimit(k), Box::Lower, k);
                add(0, ZoloPage0::UpperLimit(k), Box::Upper, k);
                add(0, ZoloPage0::Time(k), Box::Time, k);
            }
            add(0, ZoloPage0::DoorTime(0), Box::Time, 2);
            add(0, ZoloPage0::DoorTime(1), Box::Time, 3);
            add(0, ZoloPage0::Correction(0), Box::Correction, 0);
            add(0, ZoloPage0::Correction(1), Box::Correction, 1);
            add(ZoloNames::kTemperaturePage, QX7xxNames::kEvenPort, Box::Name, 0);
            add(ZoloNames::kTemperaturePage, QX7xxNames::kOddPort, Box::Name, 1);
            add(ZoloNames::kDoorPage, QX7xxNames::kEvenPort, Box::Name, 2);
            add(ZoloNames::kDoorPage, QX7xxNames::kOddPort, Box::Name, 3);
            add(ZoloPage4::kPage, ZoloPage4::kRelayLogic, Box::RelayLogic, -1);
            add(ZoloPage4::kPage, ZoloPage4::kReminderDelay, Box::ReminderDelay, -1);
            add(ZoloPage4::kPage, ZoloPage4::kBuzzer, Box::Buzzer, -1);
            add(ZoloPage4::kPage, ZoloPage4::kTwoStageDelay, Box::TwoStageDelay, -1);
            break;
        default:
            break;
    }
    return map;
}

QStringList PortTypes(Window window) {
    QStringList types;
    switch (window) {
        case Window::frmQX705:
            for (int k = 1; k <= 8; ++k)
                types << QStringLiteral("Temperature Sensor Port %1").arg(k);
            types << QStringLiteral("Door Sensor 1") << QStringLiteral("Door Sensor 2");
            break;
        case Window::frmQX708:
            for (int z = 1; z <= 4; ++z) {
                types << QStringLiteral("Zone %1 Temperature Sensor").arg(z)
                      << QStringLiteral("Zone %1 Humidity Sensor").arg(z);
            }
            types << QStringLiteral("Water Sensor");
            break;
        case Window::frmQX720:
            for (int k = 1; k <= 4; ++k)
                types << QStringLiteral("Temperature Sensor Port %1").arg(k);
            types << QStringLiteral("Dry Contact Alarm Input (NO)");
            break;
        case Window::frmQX740:
            for (int k = 1; k <= 4; ++k)
                types << QStringLiteral("Temperature Sensor Port ") + QString::number(k);
            for (int k = 1; k <= 4; ++k)
                types << QStringLiteral("Power Sensor Port ") + QString::number(k);
            types << QStringLiteral("Dry Contact Input 1");
            break;
        case Window::frmZolo:
            types << QStringLiteral("Temperature Sensor Port 1")
                  << QStringLiteral("Temperature Sensor Port 2") << QStringLiteral("Door Sensor 1")
                  << QStringLiteral("Door Sensor 2");
            break;
        default:
            break;
    }
    return types;
}

QString WindowCaption(Window window) {
    switch (window) {
        case Window::frmQX705:
            return QStringLiteral("QX700 Parameters");
        case Window::frmQX708:
            return QStringLiteral("Computer Room Keeper Parameters");
        case Window::frmQX720:
            return QStringLiteral("QX720 Parameters");
        case Window::frmQX740:
            return QStringLiteral("Temperature and Power Keeper Model QX740");
        case Window::frmZolo:
            return QStringLiteral("Zolo Parameters");
        default:
            return QString();
    }
}

bool HasLimits(Window window, int port) {
    switch (window) {
        case Window::frmQX705:
        case Window::frmQX708:
            return port >= 0 && port < 8;
        case Window::frmQX720:
            // The dry contact input shows limit boxes too; no page fills them.
            return port >= 0 && port <= 4;
        case Window::frmQX740:
            return port >= 0 && port < 4;
        case Window::frmZolo:
            return port == 0 || port == 1;
        default:
            return false;
    }
}

bool TenthsAware(Window window) {
    return window == Window::frmQX705 || window == Window::frmZolo;
}

bool TenthsReading(Window window, int port) {
    if (window == Window::frmQX705) return port >= 0 && port < 8;
    if (window == Window::frmZolo) return port == 0 || port == 1;
    return false;
}

int CalibrationPorts(Window window) {
    if (window == Window::frmQX705) return 8;
    if (window == Window::frmZolo) return 2;
    return 0;
}

}  // namespace Pages
