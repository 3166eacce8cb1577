// What the tarnset tests share: a view that records what the procedures
// show, scripted dialogs, short waits, discovery on the loopback broadcast
// address, and simulated devices with their configuration port.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <deque>
#include <memory>
#include <stdexcept>

#include "common/Dialogs.h"
#include "devsim/Simulator.h"
#include "support/FixedPorts.h"
#include "tarnset/Link.h"
#include "tarnset/Procedures.h"
#include "tarnset/View.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

struct Row {
    QString number, address, mac;
};

class RecordingView : public Tarnset::ToolView {
  public:
    void SetFindEnabled(bool enabled) override { findEnabled = enabled; }
    void SetSetIpEnabled(bool enabled) override { setIpEnabled = enabled; }
    void SetRowItemsEnabled(bool enabled) override { rowItemsEnabled = enabled; }
    void ResetList() override {
        rows.clear();
        ++resets;
    }
    void AddListRow(const QString& n, const QString& a, const QString& m) override {
        rows.push_back({n, a, m});
    }
    void HighlightAddress(int row) override { highlighted.push_back(row); }
    void ClearDebug() override { debug.clear(); }
    void AddDebug(const QString& line) override { debug << line; }
    void SetRecord(const QStringList& lines, const QString& dump) override {
        bytes = lines;
        debug << dump;
    }
    void SetStatus(const QString& text) override {
        status = text;
        statuses << text;
    }
    void SetWindowStatus(const QString& text) override { SetStatus(text); }
    void ShowResult(const QString& text) override {
        Dialogs::Message(text, Dialogs::Buttons::Ok, Dialogs::Icon::Information);
    }
    void SetStatusColour(Tarnset::StatusColour c) override { colour = c; }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void SetProgressValue(int value) override { progressValues.push_back(value); }
    QString NetworkDetail(int index) const override { return details[index]; }
    void SetNetworkDetail(int index, const QString& text) override { details[index] = text; }
    void SetOctet(int index, const QString& text) override { octets[index] = text; }
    void FocusOctet(int index) override { focused = index; }
    bool OpenUrl(const QString& url) override {
        urls << url;
        return browser;
    }

    bool findEnabled = true, setIpEnabled = true, rowItemsEnabled = true, browser = false;
    std::vector<Row> rows;
    int resets = 0;
    std::vector<int> highlighted;
    QStringList debug, bytes, statuses, urls;
    QString status;
    Tarnset::StatusColour colour = Tarnset::StatusColour::Normal;
    int progressMaximum = 0;
    std::vector<int> progressValues;
    QString details[3];
    QString octets[4];
    int focused = -1;
};

// Answers dialogs from a queue (Yes/Ok when it is empty) and records them.
class ScriptedDialogs {
  public:
    ScriptedDialogs() {
        Dialogs::SetHandler([this](const Dialogs::Request& request) {
            shown.push_back(request);
            Dialogs::Reply r{Dialogs::Answer::Yes, {}};
            if (!replies.empty()) {
                r = replies.front();
                replies.pop_front();
            }
            if (request.buttons == Dialogs::Buttons::Ok && r.answer == Dialogs::Answer::Yes)
                r.answer = Dialogs::Answer::Ok;
            if (request.buttons == Dialogs::Buttons::OkCancel && r.answer == Dialogs::Answer::Yes)
                r.answer = Dialogs::Answer::Ok;
            return r;
        });
    }
    ~ScriptedDialogs() { Dialogs::SetHandler({}); }
    void Answer(Dialogs::Answer answer, const QString& text = QString()) {
        replies.push_back({answer, text});
    }
    QStringList Texts() const {
        QStringList texts;
        for (const auto& r : shown) texts << r.text;
        return texts;
    }
    std::deque<Dialogs::Reply> replies;
    std::vector<Dialogs::Request> shown;
};

// Runs the event loop until `done` or `ms` pass.
template <class F>
bool WaitFor(F done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class TarnsetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_IF_PORTS_HELD(LoopbackTcp10001(), LoopbackUdp30718());
        Link::Reset();
        Procedures::Reset();
        Link::SetBroadcastAddress(QStringLiteral("127.255.255.255"));
        Link::Timings() = {600, 700, 400, 1500, 1000, 200};
        Link::SetView(&view);
        dialogs = std::make_unique<ScriptedDialogs>();
    }
    void TearDown() override {
        sim.removeAll();
        Link::SetView(nullptr);
        dialogs.reset();
        Link::Reset();
        // Sockets go with deleteLater.
        WaitFor([] { return false; }, 30);
    }

    // A device on `address` with its data port 10001 and its configuration
    // port; it comes back 100 ms after a change.
    devsim::Device* AddDevice(const QString& address, devsim::Model model = devsim::Model::QX700_5,
                              devsim::ConfigPortSettings settings = {}) {
        devsim::DeviceConfig c;
        c.address = QHostAddress(address);
        c.model = model;
        settings.rebootDelayMs = 100;
        c.configPort = settings;
        // Test runs of other checkouts on this machine may hold the fixed
        // ports for a few seconds; wait for them rather than fail at once.
        QString error;
        devsim::Device* d = nullptr;
        QDeadlineTimer deadline(20000);
        while (!(d = sim.addDevice(c, &error)) && !deadline.hasExpired())
            WaitFor([] { return false; }, 250);
        if (!d) throw std::runtime_error((address + QStringLiteral(": ") + error).toStdString());
        return d;
    }

    RecordingView view;
    std::unique_ptr<ScriptedDialogs> dialogs;
    devsim::Simulator sim;
};
