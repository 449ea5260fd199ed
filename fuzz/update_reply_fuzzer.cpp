// libFuzzer target over the update service's answer and the version order. The input is read as an answer,
// and its two halves around the first newline as two versions. Oracle: an answer either offers a version or
// says what is wrong, and "newer" is a strict order: never both ways, never a version over itself.
#include "ui/UpdateReply.h"

#include <cstdint>
#include <cstdlib>

namespace {
void checkOrder(const QString& a, const QString& b)
{
    if (UpdateReply::isNewerVersion(a, a) ||
        (UpdateReply::isNewerVersion(a, b) && UpdateReply::isNewerVersion(b, a)))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const UpdateReply reply = UpdateReply::read(body);
    if (reply.version.isEmpty() == reply.problem.isEmpty())
        std::abort();
    checkOrder(reply.version, QStringLiteral("1.4.0"));
    const int newline = body.indexOf('\n');
    if (newline >= 0)
        checkOrder(QString::fromUtf8(body.left(newline)), QString::fromUtf8(body.mid(newline + 1)));
    return 0;
}
