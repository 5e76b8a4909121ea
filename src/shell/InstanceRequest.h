#pragma once
// What a later start says to the running program through the local socket:
// one header line, "TOMOSHIBI/1 VERB LENGTH", then LENGTH bytes of UTF-8
// text (the link of "mailto"). Read here from the bytes received so far,
// without a socket, so that anything a stranger sends is judged in one place.
#include <QByteArray>
#include <QString>

namespace instance {

struct Request {
  QString verb;  // "show" or "mailto"
  QString text;  // the link of "mailto"
};

// A request is its header line and a link at most; anything longer is not ours.
inline constexpr qsizetype kMaxRequestHeader = 64;

// The bytes a request is sent as.
QByteArray requestBytes(const Request& request);

enum class ReadState {
  Incomplete,  // more is to come
  Refused,     // not a request of ours: the connection is dropped
  Complete,    // `request` is set; `consumed` bytes make it
};

// The request at the start of `received`.
ReadState readRequest(const QByteArray& received, Request* request, qsizetype* consumed);

}  // namespace instance
