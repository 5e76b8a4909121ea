// What a stranger may send to the running program's local socket, read as
// the program reads it (a mailto: request's link is then taken apart).
//
// Checks: a request is taken only whole and only of a known verb; what it
// consumed lies within what was received; the request sent again is read
// as the same request; the link of a mailto request is taken apart safely.
#include "MailtoCheck.h"
#include "shell/InstanceRequest.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray received = bytesOf(data, size);
  instance::Request request;
  qsizetype consumed = -1;
  const instance::ReadState state = instance::readRequest(received, &request, &consumed);
  if (state != instance::ReadState::Complete) return 0;
  FUZZ_CHECK(consumed > 0 && consumed <= received.size(), QStringLiteral("consumed %1 of %2").arg(consumed).arg(size));
  FUZZ_CHECK(request.verb == u"show" || request.verb == u"mailto", QStringLiteral("verb %1").arg(request.verb));
  checkText(request.text, "the request's text");

  // Every request the program takes could have come from a start of its own.
  const QByteArray again = instance::requestBytes(request);
  instance::Request back;
  qsizetype used = -1;
  FUZZ_CHECK(instance::readRequest(again, &back, &used) == instance::ReadState::Complete && used == again.size() &&
                 back.verb == request.verb && back.text == request.text,
             QStringLiteral("the request sent again reads otherwise"));
  if (request.verb == u"mailto") checkMailto(parseMailto(request.text));
  return 0;
}
