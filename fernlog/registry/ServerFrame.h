#pragma once

#include <QtGlobal>

namespace Registry {

// Which server the registry window's server frame (and the e-mail frame
// opened from it) belongs to. The tree's selection is something else: a
// click on another node only selects it, so Save adds what an Add frame
// holds and updates the one row an Edit frame was opened on.
class ServerFrame {
  public:
    enum class Mode { Closed, Adding, Editing };

    void OpenForAdd() { Set(Mode::Adding, -1); }
    void OpenForEdit(qint64 serverId) { Set(Mode::Editing, serverId); }
    // The new server was stored: the frame now edits its row.
    void Added(qint64 serverId) {
        if (mode_ == Mode::Adding) Set(Mode::Editing, serverId);
    }
    // Close, the root node, or the server was deleted.
    void Close() { Set(Mode::Closed, -1); }

    Mode State() const { return mode_; }
    bool Adding() const { return mode_ == Mode::Adding; }
    bool Editing() const { return mode_ == Mode::Editing; }
    // The row Save updates; -1 unless editing.
    qint64 ServerId() const { return serverId_; }

    // The server whose e-mail list is open: the server frame's own (the
    // selected node's when no server frame is open), -1 for a new one.
    qint64 EmailListFor(qint64 selectedServerId) const {
        if (mode_ == Mode::Closed) return selectedServerId;
        return serverId_;
    }
    void OpenEmailList(qint64 serverId) { emailServerId_ = serverId; }
    qint64 EmailServerId() const { return emailServerId_; }

  private:
    void Set(Mode mode, qint64 serverId) {
        mode_ = mode;
        serverId_ = mode == Mode::Editing ? serverId : -1;
        emailServerId_ = -1;
    }
    Mode mode_ = Mode::Closed;
    qint64 serverId_ = -1;
    qint64 emailServerId_ = -1;
};

}  // namespace Registry
