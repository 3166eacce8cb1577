// The floor for poll_bench: the same irreducible work of a polling cycle
// (two TCP exchanges per device, the three data files of every sensor, and
// a kept SQLite connection reading each device's sensors) with plain POSIX
// and SQLite calls. poll_bench runs it against its own simulated devices
// and prints its own speed as a ratio of this one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string dir, logDir, firstAddress = "127.0.1.1", database;
    int devices = 100, sensors = 10, cycles = 3;
};

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: poll_floor --dir DIR --database FILE [--log-dir DIR] [--devices N]\n"
                 "                  [--sensors N] [--cycles N] [--first ADDRESS]\n");
}

bool Exchange(const std::string& address, const unsigned char* command) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(10001);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (ok) {
        unsigned char request[60] = {};
        std::memcpy(request, command, 4);
        ok = ::send(fd, request, sizeof request, 0) == 60;
        unsigned char answer[60];
        size_t got = 0;
        while (ok && got < sizeof answer) {
            const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
            if (n <= 0)
                ok = false;
            else
                got += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    return ok;
}

// The three files of one sensor: description in place, the hourly record
// read and rewritten, one monthly record appended.
void WriteFiles(const std::string& dir, int sensor) {
    char name[160];
    std::snprintf(name, sizeof name, "%s/Sensor-%d.dat", dir.c_str(), sensor);
    int fd = ::open(name, O_RDWR | O_CREAT, 0644);
    char record[64] = {};
    std::memset(record, ' ', 42);
    ::pwrite(fd, record, 42, 0);
    ::close(fd);

    std::snprintf(name, sizeof name, "%s/Sensor-%d Average.dat", dir.c_str(), sensor);
    fd = ::open(name, O_RDWR | O_CREAT, 0644);
    struct stat info {};
    ::fstat(fd, &info);
    const off_t last = info.st_size >= 41 ? (info.st_size / 41 - 1) * 41 : 0;
    ::pread(fd, record, 41, last);
    ::pwrite(fd, record, 41, last);
    ::close(fd);

    std::snprintf(name, sizeof name, "%s/Sensor-%d Instantaneous Data Created 12-2026.dat",
                  dir.c_str(), sensor);
    fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::write(fd, record, 29);
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        const std::string value = argv[++i];
        if (arg == "--dir")
            o.dir = value;
        else if (arg == "--log-dir")
            o.logDir = value;
        else if (arg == "--database")
            o.database = value;
        else if (arg == "--devices")
            o.devices = std::atoi(value.c_str());
        else if (arg == "--sensors")
            o.sensors = std::atoi(value.c_str());
        else if (arg == "--cycles")
            o.cycles = std::atoi(value.c_str());
        else if (arg == "--first")
            o.firstAddress = value;
        else {
            Usage(stderr);
            return 2;
        }
    }
    if (o.dir.empty() || o.database.empty()) {
        Usage(stderr);
        return 2;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* sensors = nullptr;
    if (sqlite3_open_v2(o.database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db,
                           "SELECT IDNum FROM tblSensors WHERE ServerIDNum = ? "
                           "AND length(SensorName) <> 0 ORDER BY PortNum",
                           -1, &sensors, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "poll_floor: cannot open %s\n", o.database.c_str());
        return 1;
    }
    in_addr first{};
    ::inet_pton(AF_INET, o.firstAddress.c_str(), &first);
    const unsigned char identify[4] = {0x2A, 0xCD, 0xDC, 0xBA};
    const unsigned char readings[4] = {0x3F, 0xCD, 0xDC, 0x00};

    const auto start = std::chrono::steady_clock::now();
    long processed = 0;
    for (int c = 0; c < o.cycles; ++c) {
        for (int d = 0; d < o.devices; ++d) {
            in_addr address{htonl(ntohl(first.s_addr) + static_cast<uint32_t>(d))};
            char text[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &address, text, sizeof text);
            if (!Exchange(text, identify) || !Exchange(text, readings)) continue;
            sqlite3_bind_int(sensors, 1, d + 1);
            while (sqlite3_step(sensors) == SQLITE_ROW) {
                const int sensor = sqlite3_column_int(sensors, 0);
                WriteFiles(o.dir, sensor);
                if (!o.logDir.empty()) WriteFiles(o.logDir, sensor);
                ++processed;
            }
            sqlite3_reset(sensors);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f sensor readings per second\n", processed / seconds);
    sqlite3_finalize(sensors);
    sqlite3_close(db);
    return 0;
}
