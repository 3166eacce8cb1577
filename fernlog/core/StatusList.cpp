#include "core/StatusList.h"

#include <QStringListModel>

namespace StatusList {
namespace {
QStringListModel& TheModel() {
    static QStringListModel model;
    return model;
}
Listener& TheListener() {
    static Listener listener;
    return listener;
}

int FindLine(const QString& key) {
    const QStringList lines = TheModel().stringList();
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(key)) return i;
    }
    return -1;
}
}  // namespace

void ShowStatus(const QString& key, const QString& text) {
    QStringListModel& model = TheModel();
    const int row = FindLine(key);
    if (text.toLower() == QLatin1String("delete")) {
        if (row >= 0) model.removeRows(row, 1);
        return;
    }
    const QString line = key + text;
    if (row >= 0) {
        const QModelIndex index = model.index(row);
        if (model.data(index, Qt::DisplayRole).toString() == line) return;
        model.setData(index, line);
    } else {
        const int end = model.rowCount();
        model.insertRows(end, 1);
        model.setData(model.index(end), line);
    }
    if (TheListener()) TheListener()(line);
}

void Clear() {
    TheModel().setStringList({});
}

void Reset() {
    Clear();
    TheListener() = {};
}

QStringList Lines() {
    return TheModel().stringList();
}

QStringListModel* Model() {
    return &TheModel();
}

void SetListener(Listener listener) {
    TheListener() = std::move(listener);
}

}  // namespace StatusList
