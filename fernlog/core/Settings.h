#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "common/FixedText.h"

// The settings record of fernlog and its file "FernlogConfig.dat": one
// 1499-byte little-endian record, fields packed without padding.
struct ConfigRecord {
    FixedText<50> Reserved1;
    FixedText<50> Reserved2;
    qint32 Reserved3 = 0;
    FixedText<51> OrgName;
    FixedText<250> OrgAddress;
    FixedText<20> OrgPhoneNumber;
    FixedText<100> PrinterName;
    qint16 PrinterIndex = 0;
    FixedText<3> AutoPrintReport;
    qint16 Reserved4 = 0;  // read by nothing; written back as read
    FixedText<2> TimeToPrint;
    FixedText<2> AMPM;
    FixedText<100> Host;
    FixedText<100> UserName;  // enciphered on disk
    FixedText<100> Password;  // enciphered on disk
    FixedText<100> LoginDomain;
    FixedText<20> AuthenticationMethod;
    FixedText<100> ServerFailureEmailAddress;
    qint16 SMTPPort = 0;
    qint16 ServerTimeOut = 0;
    qint16 CommunicationRetry = 0;
    qint16 TCPTimeOut = 0;
    qint16 UpdateRate = 0;
    qint16 Authentication = 0;
    qint16 SSL = 0;
    FixedText<100> FromAddress;
    qint16 SystemOKEmail = 0;
    FixedText<25> LastSystemOKEmail;
    qint16 EnableTrending = 0;
    FixedText<100> AdminUserName;  // enciphered on disk
    FixedText<100> AdminPassword;  // enciphered on disk
    FixedText<100> LogDir;

    bool operator==(const ConfigRecord&) const = default;
};

// The program-wide settings, read directly by every module.
extern ConfigRecord ConfigParameters;

namespace Settings {

constexpr int kRecordLength = 1499;

QString FileName();  // "FernlogConfig.dat"
QString FilePath();  // in the program directory

// The record's bytes exactly as stored (enciphered fields as they are held).
QByteArray Serialize(const ConfigRecord& record);
// Exactly kRecordLength bytes back into a record; nullopt for any other length.
std::optional<ConfigRecord> Deserialize(const QByteArray& bytes);

// Configures the crypt component; once at start-up before the file is read.
void InitCrypt();

// Reads the file into ConfigParameters, deciphering the four enciphered
// fields. False when the file is missing (record unchanged) or unreadable
// (record unchanged, error recorded, the file kept as a ".bad" copy so that
// writing defaults over it loses nothing).
bool ReadConfigFile();

// Stores ConfigParameters (enciphered fields trimmed in memory, enciphered on
// disk). False with the error recorded when it cannot write, or when an
// enciphered value is longer than Crypt::kMaxPlainLength; then nothing is
// written.
bool SaveConfigFile();

// The fields that differ between two records, each "Name: old -> new";
// the enciphered ones (user names, passwords) without their values.
QStringList Differences(const ConfigRecord& before, const ConfigRecord& after);

// Applies the defaults to values out of range in ConfigParameters, in
// memory only; true when any changed.
bool ApplyDefaults();
// Applies the defaults; when any changed, stores the record and returns
// false.
bool ValidateConfig();

// Whether the settings file holds other bytes than this program first read,
// last wrote or last noticed here: another program (fernlog settings set)
// stored new settings. Each change is told once. A missing or unreadable
// file is no change.
bool ChangedOnDisk();

// Back to the state of a fresh start: an empty record in memory.
void Reset();

}  // namespace Settings
