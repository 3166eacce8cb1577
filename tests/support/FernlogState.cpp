#include "support/FernlogState.h"

#include "common/EventLog.h"
#include "core/AlarmHandling.h"
#include "core/Alarms.h"
#include "core/AlertmanagerSync.h"
#include "core/ChannelOutbox.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Journal.h"
#include "core/MailWarnings.h"
#include "core/Notices.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "core/WebRequest.h"
#include "db/ErrorLog.h"
#include "pages/Calibration.h"
#include "web/Snapshot.h"

void ResetFernlogState() {
    WebRequest::Reset();
    Settings::Reset();
    ErrorLog::Reset();
    EventLog::Reset();
    DeviceLink::Reset();
    Decoding::Reset();
    Polling::Reset();
    Startup::Reset();
    StatusList::Reset();
    StatusGrid::Reset();
    ServerData::Reset();
    ServiceLog::Reset();
    MailWarnings::Reset();
    DataLogs::Reset();
    Outbox::Reset();
    ChannelOutbox::Reset();
    Notices::Reset();
    EmailNotification::Reset();
    Alarms::Reset();
    AlertmanagerSync::Reset();
    Journal::Reset();
    AlarmHandling::Reset();
    Pages::Reset();
    Waits::Reset();
    Web::Reset();
}
