// The simulator's reading of requests on a device's data port, without the
// socket: the input chooses the model, its firmware build and how many log
// records the device holds, and the rest is cut into 60-byte requests as a
// session cuts its input. Every answer is empty (a request the device
// ignores), the log, or 60 bytes that echo the request's command.
#include <QList>
#include <QtEndian>

#include "FuzzSupport.h"
#include "devsim/Device.h"

using namespace devsim;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const QList<Model> models = allModels();
    DeviceConfig config;
    config.model = models[data[0] % models.size()];
    if (data[1] & 0x80) config.build = qFromBigEndian<quint16>(data + 2);
    config.unit = (data[1] & 0x40) ? 'C' : 'F';
    Device device(config);
    for (int k = 0; k < (data[1] & 0x07); ++k) device.appendLogRecord();

    const QByteArray input = Fuzz::Bytes(data + 4, size - 4);
    for (qsizetype at = 0; at < input.size(); at += kRequestSize) {
        const QByteArray request = input.mid(at, kRequestSize);
        const QByteArray log = device.log();
        const QByteArray answer = device.answer(request);
        if (answer.isEmpty()) continue;
        FUZZ_CHECK(request.size() == kRequestSize);
        if (request.startsWith(cmd::ReadLog)) {
            FUZZ_CHECK(answer == log);
            FUZZ_CHECK(answer.size() % device.logRecordSize() == 0);
            continue;
        }
        FUZZ_CHECK(answer.size() == kPageSize);
        FUZZ_CHECK(answer.left(4) == request.left(4));
        // Every page keeps its read echo, whatever was written over it.
        const int n = quint8(request[3]);
        if (request.startsWith(cmd::PageWrite) && n < kPageCount) {
            const QByteArray page = device.page(n);
            FUZZ_CHECK(page.size() == kPageSize);
            FUZZ_CHECK(page.left(4) == cmd::PageRead + char(n));
        }
    }
    FUZZ_CHECK(device.unit() == 'C' || device.unit() == 'F');
    return 0;
}
