#pragma once

#include <QString>

// Start-up and shutdown of fernlog: the load steps, the activation block
// that (re)reads the settings and (re)starts polling, and the orderly stop.
// The main window registers its ActivationView; headless runs have none.
namespace Startup {

extern bool ActivateBlockPending;
extern bool TrendReset;
extern bool TrendingOn;
extern bool LoginSucceeded;
// The activation block has run once: the settings file has been read.
extern bool Activated;
// A secondary window (registry, settings, login, about, export) is open.
extern bool SecondaryWindowOpen;
// StopProgram has begun. Its waits serve events, so a second stop request
// (another SIGTERM) can arrive inside it; that one is ignored.
extern bool Stopping;

QString ProgramTitle();  // "Fernlog"
QString VersionText();   // "major.minor.revision"

// What the activation block sets on the main window.
class ActivationView {
  public:
    virtual ~ActivationView() = default;
    virtual void SelectFirstTab() = 0;
    virtual void ResetChartTrackers() = 0;
    // The Setup entries (registry window and settings dialog), the login
    // entry's caption and whether the administrator is shown as logged in.
    virtual void SetSetupMenus(bool enabled, const QString& loginCaption, bool adminLoggedIn) = 0;
    virtual void SetTrendingMenu(bool enabled) = 0;
};
void SetView(ActivationView* view);  // nullptr removes it

// Back to the state of a fresh start.
void Reset();

// The load steps that do not draw: command table, status list, link state.
void LoadProgram();

// The activation block; runs when ActivateBlockPending.
void RunActivationBlock();

// Whether a secondary window may open now: not before the first activation
// (the settings are not read yet, so a dialog would show and store an empty
// record, and the login gate is not set), and not over another secondary
// window (closing the inner one would restart polling under the outer).
bool MayOpenSecondaryWindow();

// True when an administrator login is set up (user name and password stored).
bool LoginRequired();

// The Setup entries by the login state: enabled without a login set up or
// once logged in, locked otherwise; "Log Out" while logged in.
void ApplyLoginState();

// The close question; true when the user answers Yes.
bool ConfirmClose();

// The stop after a confirmed close: waits give up, the shutdown e-mail goes
// out, timers stop and the socket closes. The e-mail waiting in the outbox
// and the shutdown e-mail get StopWaitMs() together; what has not gone out
// by then stays in the outbox for the next start.
void StopProgram();

// The stop's wait for the mail server: the mail time-out, at most what
// keeps the whole stop below the service unit's TimeoutStopSec (or the test
// timings' stop wait).
int StopWaitMs();

}  // namespace Startup
