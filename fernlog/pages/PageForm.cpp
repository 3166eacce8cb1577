#include "pages/PageForm.h"

#include "pages/PageMaps.h"

namespace Pages {

PageForm EmptyForm(Window window) {
    PageForm form;
    for (const QString& type : PortTypes(window))
        form.ports.push_back(PortBoxes{type, {}, {}, {}, {}, {}, {}});
    return form;
}

void ClearTextBoxes(PageForm& form) {
    for (PortBoxes& port : form.ports) {
        port.name.clear();
        port.lower.clear();
        port.upper.clear();
        port.time.clear();
        port.reading.clear();
        port.notes.clear();
    }
    for (QString& cf : form.correction) cf.clear();
    form.erroneousBits.clear();
    form.erroneousCount.clear();
    form.reminderDelay.clear();
    form.twoStageDelay.clear();
    form.status.clear();
}

PageSession NewSession(Window window, const QString& ipAddress, qint64 serverId) {
    PageSession session;
    session.window = window;
    session.ipAddress = ipAddress;
    session.serverId = serverId;
    session.form = EmptyForm(window);
    return session;
}

}  // namespace Pages
