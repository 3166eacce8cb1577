#include "pages/Calibration.h"

#include <QEventLoop>
#include <QTimer>

#include "common/Dialogs.h"
#include "core/DeviceLink.h"
#include "pages/PageMaps.h"
#include "pages/PageTransfer.h"
#include "pages/PageValues.h"

namespace Pages {

int CalibrationWaitMs = 2000;

void Reset() {
    CalibrationWaitMs = 2000;
}

namespace {

// A pause that keeps the window responsive and ends when the program closes.
void WaitBeforeReading(const PageSession& s) {
    if (s.window != Window::frmQX705 || CalibrationWaitMs <= 0) return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, &loop, [&loop] {
        if (!DeviceLink::ProgramRunning) loop.quit();
    });
    timer.start(CalibrationWaitMs);
    stop.start(100);
    loop.exec();
}

bool Ask(const QString& text, const QString& title) {
    return Dialogs::Message(text, Dialogs::Buttons::OkCancel, Dialogs::Icon::Question, title) ==
           Dialogs::Answer::Ok;
}

}  // namespace

bool NewCorrection(const QString& actual, const QString& reading, const QString& oldCorrection,
                   QString& correction, QString* error) {
    const auto a = ScaledNumber(actual, 1);
    const auto r = ScaledNumber(reading, 1);
    const auto o = oldCorrection.trimmed().isEmpty() ? std::optional<qint64>(0)
                                                     : ScaledNumber(oldCorrection, 1);
    auto fail = [error](const QString& what, const QString& text) {
        if (error)
            *error = what + QStringLiteral(" (\"") + text + QStringLiteral("\") is not a number.");
        return false;
    };
    if (!a) return fail(QStringLiteral("The actual temperature"), actual);
    if (!r) return fail(QStringLiteral("The reading"), reading);
    if (!o) return fail(QStringLiteral("The correction"), oldCorrection);
    correction = TenthsText(*a - *r + *o);
    return true;
}

bool ComputeCalFactors(PageSession& s, QString* error) {
    const bool zolo = s.window == Window::frmZolo;
    const int ports = CalibrationPorts(s.window);
    PageForm& form = s.form;
    // The device's corrections are read only when a Zolo counts in tenths;
    // a new one worked out from an empty box would replace the stored
    // correction by a guess.
    if (zolo && !s.Tenths) {
        if (error)
            *error = QStringLiteral(
                "The stored calibration factors could not be read from this device (it does not "
                "report tenths of a degree), so new ones cannot be worked out from them.");
        return false;
    }
    // Every correction is worked out before any box changes, so that a
    // refused entry leaves all of them as they were.
    std::array<QString, 8> corrections = form.correction;
    for (int i = 0; i < ports; ++i) {
        const QString actual = form.actualTemp[size_t(i)].trimmed();
        if (actual.isEmpty()) continue;
        if (zolo && !ScaledNumber(actual, 1)) continue;  // frmZolo takes only numbers
        QString reason;
        if (!NewCorrection(actual, form.ports[size_t(i)].reading, form.correction[size_t(i)],
                           corrections[size_t(i)], &reason)) {
            if (error) *error = form.ports[size_t(i)].type + QStringLiteral(": ") + reason;
            return false;
        }
    }
    form.correction = corrections;
    return true;
}

bool StoreCalFactors(PageSession& s) {
    const bool zolo = s.window == Window::frmZolo;
    const int ports = CalibrationPorts(s.window);
    PageForm& form = s.form;
    if (zolo) {
        bool any = false;
        for (int i = 0; i < ports; ++i) any |= !form.actualTemp[size_t(i)].trimmed().isEmpty();
        if (!any) {
            Dialogs::Message(QStringLiteral("Please enter the actual temperature"));
            return false;
        }
    } else if (!Ask(QStringLiteral("Upload calibration factors?"),
                    QStringLiteral("Upload Calibration Factors"))) {
        return false;
    }
    QString error;
    if (!ComputeCalFactors(s, &error)) {
        Dialogs::Message(error, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        return false;
    }

    if (zolo && !Ask(QStringLiteral("Upload Calibration Factors?"),
                     QStringLiteral("Upload Calibration Factors"))) {
        return false;
    }
    return UploadCalFactors(s);
}

bool UploadCalFactors(PageSession& s) {
    // The list starts over only when something is sent.
    s.form.status.clear();
    if (!SaveLimits(s, true)) return false;
    if (s.window == Window::frmZolo) return true;
    WaitBeforeReading(s);
    GetLimits(s);
    return true;
}

bool ResetCalFactors(PageSession& s) {
    const bool zolo = s.window == Window::frmZolo;
    if (!Ask(zolo ? QStringLiteral("Reset both calibration factors to zero?")
                  : QStringLiteral("Reset all calibration factors to zero?"),
             QStringLiteral("Reset Cal Factors"))) {
        return false;
    }
    for (int i = 0; i < CalibrationPorts(s.window); ++i) {
        s.form.actualTemp[size_t(i)].clear();
        s.form.correction[size_t(i)] = QStringLiteral("0");
    }
    // A failed upload is not followed by a download, which would clear its
    // message and the values that were not sent.
    s.form.status.clear();
    if (!SaveLimits(s, true)) return false;
    WaitBeforeReading(s);
    GetLimits(s);
    return true;
}

}  // namespace Pages
