// The headers of a request that decide who is answered: the input is the
// Authorization header, a newline, and the Host header. With a token only
// its exact bearer credentials are let in; without one, only 403 or the
// answer itself comes back.
#include "FuzzSupport.h"
#include "web/Listener.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = Fuzz::Bytes(data, size);
    const qsizetype newline = input.indexOf('\n');
    Web::Request request;
    request.method = "GET";
    request.path = QStringLiteral("/nothing");  // answered without the program's state
    request.authorization = input.left(newline < 0 ? input.size() : newline);
    request.host = newline < 0 ? QByteArray() : input.mid(newline + 1);

    static const QString token = QStringLiteral("0123456789abcdef");
    const Web::Response guarded = Web::Respond(request, token);
    const QByteArray value = request.authorization.trimmed();
    const qsizetype space = value.indexOf(' ');
    const bool right = space > 0 && value.left(space).compare("bearer", Qt::CaseInsensitive) == 0 &&
                       value.mid(space + 1).trimmed() == token.toUtf8();
    FUZZ_CHECK(guarded.status == (right ? 404 : 401));

    const Web::Response open = Web::Respond(request, QString());
    FUZZ_CHECK(open.status == 404 || open.status == 403);
    FUZZ_CHECK(request.host.isEmpty() ? open.status == 404 : true);
    return 0;
}
