// The POP3 conversation rules, against a mailbox in memory, driven as the
// mail check drives it: RETR and DELE queued in windows, every answer read
// back in order.
#include "platform/TestHooks.h"
#include "support/FakePop3.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using maillib::Code;
using maillib::Pop3Session;
using Command = maillib::Pop3Session::Command;

namespace {

std::unique_ptr<Pop3Session> open(const std::shared_ptr<FakeMailbox>& box) {
  auto s = std::make_unique<Pop3Session>(std::make_unique<FakeLink>(box), box->greeting, QStringLiteral("fake"));
  s->readCapabilities();
  return s;
}

QByteArray mail(int n) {
  return "Subject: " + QByteArray::number(n) + "\r\n\r\nbody of mail " + QByteArray::number(n) + "\r\n";
}

std::shared_ptr<FakeMailbox> boxWith(int count) {
  auto box = std::make_shared<FakeMailbox>();
  for (int i = 1; i <= count; ++i) box->add("uid-" + QByteArray::number(i), mail(i));
  return box;
}

// One answer as the check sees it.
struct Got {
  Command command;
  int number;
  bool ok;
  bool tooLarge;
  QByteArray message;
  QByteArray status;
};

// Queues `commands` as one window, then reads every answer awaited. Stops
// at the first answer that cannot be read (the connection is lost).
QList<Got> window(Pop3Session& s, const QList<std::pair<Command, int>>& commands) {
  for (const auto& [c, n] : commands) s.queue(c, n);
  QList<Got> out;
  while (s.awaiting() > 0) {
    Pop3Session::Answer a;
    QByteArray message;
    if (!s.next(&a, &message)) break;
    out.append({a.command, a.number, a.ok, a.tooLarge, message, a.status});
  }
  return out;
}

QList<std::pair<Command, int>> retr(int from, int to) {
  QList<std::pair<Command, int>> out;
  for (int n = from; n <= to; ++n) out.append({Command::Retr, n});
  return out;
}

QList<std::pair<Command, int>> dele(int from, int to) {
  QList<std::pair<Command, int>> out;
  for (int n = from; n <= to; ++n) out.append({Command::Dele, n});
  return out;
}

}  // namespace

TEST(Pop3Session, LogsInWithUserPassAndReadsMessagesWhole) {
  auto box = boxWith(0);
  // Dot-stuffed lines, a lone dot inside the text, and a second mail right
  // behind the first in the same window.
  const QByteArray tricky =
      "Subject: dots\r\n\r\n.leading dot\r\n.\r\n..two\r\n.\rx\r\nends with a dot.\r\nand another.\r\n.\r\nend\r\n";
  box->add("u1", tricky);
  box->add("u2", ".\r\n..\r\n");
  // Pieces of every small size, and of sizes drawn at random, put the dot,
  // CR and LF on every boundary.
  QList<std::pair<int, quint32>> ways{{4096, 0}};
  for (int c = 1; c <= 8; ++c) ways.append({c, 0});
  for (quint32 seed = 1; seed <= 300; ++seed) ways.append({40, seed});
  for (const auto& [chunk, seed] : ways) {
    box->chunk = chunk;
    box->pieceSeed = seed;
    box->commands.clear();
    auto s = open(box);
    EXPECT_EQ(s->login("tomo", "secret", false), 2);
    EXPECT_EQ(box->commands.mid(1, 2), (QList<QByteArray>{"USER tomo", "PASS secret"}));
    EXPECT_EQ(s->size(1), tricky.size());
    const QList<Got> got = window(*s, retr(1, 2));
    ASSERT_EQ(got.size(), 2) << chunk << ' ' << seed;
    EXPECT_TRUE(got[0].ok && got[1].ok);
    EXPECT_EQ(got[0].message, tricky) << chunk << ' ' << seed;
    EXPECT_EQ(got[1].message, QByteArray(".\r\n..\r\n")) << chunk << ' ' << seed;
    EXPECT_TRUE(s->quit());
    EXPECT_TRUE(s->failure().ok());
  }
}

// The order in which the mail check works: a window of fetches, then the
// stored ones deleted while the rest is fetched in the same window, then
// the last deletion, then QUIT. Every answer comes back to the command it
// belongs to, whatever is mixed in the pipe.
TEST(Pop3Session, MixedWindowsOfFetchesAndDeletionsStayInStep) {
  auto box = boxWith(6);
  auto s = open(box);
  ASSERT_TRUE(s->pipelines());
  ASSERT_EQ(s->login("tomo", "secret", false), 6);

  QList<Got> got = window(*s, retr(1, 3));
  ASSERT_EQ(got.size(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].command, Command::Retr);
    EXPECT_EQ(got[i].number, i + 1);
    EXPECT_EQ(got[i].message, mail(i + 1));
  }
  got = window(*s, dele(1, 3) + retr(4, 6));
  ASSERT_EQ(got.size(), 6);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].command, Command::Dele);
    EXPECT_EQ(got[i].number, i + 1);
    EXPECT_TRUE(got[i].ok);
    EXPECT_TRUE(got[i].message.isEmpty());
    EXPECT_EQ(got[3 + i].command, Command::Retr);
    EXPECT_EQ(got[3 + i].number, 4 + i);
    EXPECT_EQ(got[3 + i].message, mail(4 + i));
  }
  // Retrievals and deletions interleaved one by one.
  got = window(*s, {{Command::Dele, 5}, {Command::Retr, 6}, {Command::Retr, 4}});
  ASSERT_EQ(got.size(), 3);
  EXPECT_EQ(got[1].message, mail(6));
  EXPECT_EQ(got[2].message, mail(4));
  EXPECT_EQ(s->awaiting(), 0);
  EXPECT_TRUE(s->quit());
  EXPECT_GT(box->pipelined, 0);
  EXPECT_EQ(box->connections, 1);
  ASSERT_EQ(box->messages.size(), 2);
  EXPECT_EQ(box->messages[0].uid, "uid-4");
  EXPECT_EQ(box->messages[1].uid, "uid-6");
}

// A refused RETR, a mail past the size limit and a refused DELE in the
// middle of a window: each shows in its own answer, and the answers after
// it still carry their own mails.
TEST(Pop3Session, RefusalsInAWindowKeepTheAnswersAfterThemInStep) {
  auto box = boxWith(5);
  box->refuseRetr = {2};
  box->refuseDele = {1};
  box->messages[3].data = "Subject: big\r\n\r\n" + QByteArray(8000, 'x') + "\r\n";
  maillib::Pop3Limits limits;
  limits.maxMail = 4096;
  testhooks::Scoped<maillib::Pop3Limits*> hook(testhooks::pop3Limits, &limits);
  auto s = open(box);
  ASSERT_EQ(s->login("tomo", "secret", false), 5);

  const QList<Got> got = window(*s, {{Command::Retr, 1}, {Command::Retr, 2}, {Command::Dele, 1}, {Command::Retr, 3},
                                     {Command::Retr, 4}, {Command::Retr, 5}, {Command::Dele, 3}});
  ASSERT_EQ(got.size(), 7);
  EXPECT_EQ(got[0].message, mail(1));
  EXPECT_FALSE(got[1].ok);
  EXPECT_EQ(got[1].status.trimmed(), QByteArray("-ERR no such message"));
  EXPECT_FALSE(got[2].ok);
  EXPECT_EQ(got[2].status.trimmed(), QByteArray("-ERR cannot delete"));
  EXPECT_EQ(got[3].message, mail(3));
  EXPECT_TRUE(got[4].ok);
  EXPECT_TRUE(got[4].tooLarge);
  EXPECT_TRUE(got[4].message.isEmpty());  // read past, not kept
  EXPECT_EQ(got[5].message, mail(5));
  EXPECT_TRUE(got[6].ok);
  EXPECT_TRUE(s->alive());

  // The refused deletion shows at QUIT; the others took.
  bool answered = false;
  EXPECT_FALSE(s->quit(&answered));
  EXPECT_TRUE(answered);
  EXPECT_EQ(s->failure().code, Code::Pop3DeletesRefused);
  EXPECT_EQ(s->failure().amount, 1);
  EXPECT_EQ(s->failure().reply, QStringLiteral("-ERR cannot delete"));
  EXPECT_EQ(s->failure().host, QStringLiteral("fake"));
  ASSERT_EQ(box->messages.size(), 4);
  EXPECT_EQ(box->messages[0].uid, "uid-1");
}

TEST(Pop3Session, ABrokenConnectionEndsTheSessionWithoutReconnectingOrCommitting) {
  auto box = boxWith(3);
  box->breakInRetr = 2;
  auto s = open(box);
  ASSERT_EQ(s->login("tomo", "secret", false), 3);
  // The deletion of 1 and the fetches of 2 and 3 in one window: the break
  // in the middle of 2 ends the window there.
  QList<Got> got = window(*s, retr(1, 1));
  ASSERT_EQ(got.size(), 1);
  got = window(*s, dele(1, 1) + retr(2, 3));
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].command, Command::Dele);
  EXPECT_FALSE(s->alive());
  EXPECT_EQ(s->failure().code, Code::ConnectionBroken);
  EXPECT_EQ(s->failure().host, QStringLiteral("fake"));
  // Nothing more is asked, and nothing is opened again.
  s->queue(Command::Retr, 3);
  Pop3Session::Answer a;
  QByteArray message;
  EXPECT_FALSE(s->next(&a, &message));
  bool answered = true;
  EXPECT_FALSE(s->quit(&answered));
  EXPECT_FALSE(answered);
  EXPECT_EQ(box->commits, 0);
  EXPECT_EQ(box->messages.size(), 3);
  EXPECT_EQ(box->connections, 1);
}

TEST(Pop3Session, AnUnansweredOrRefusedQuitCommitsNothing) {
  for (const bool breakIt : {true, false}) {
    auto box = boxWith(2);
    box->breakAtQuit = breakIt;
    box->refuseQuit = !breakIt;
    auto s = open(box);
    ASSERT_EQ(s->login("tomo", "secret", false), 2);
    const QList<Got> got = window(*s, retr(1, 2) + dele(1, 2));
    ASSERT_EQ(got.size(), 4);
    bool answered = true;
    EXPECT_FALSE(s->quit(&answered));
    EXPECT_FALSE(answered);
    EXPECT_EQ(s->failure().code, breakIt ? Code::ConnectionBroken : Code::Pop3QuitRefused) << breakIt;
    if (!breakIt) EXPECT_EQ(s->failure().reply, QStringLiteral("-ERR cannot commit"));
    EXPECT_EQ(box->commits, 0);
    EXPECT_EQ(box->messages.size(), 2);
  }
}

TEST(Pop3Session, AnOldServerWithoutCapaOrUidlIsGivenOneCommandAtATime) {
  auto box = boxWith(3);
  box->capa = false;
  box->uidl = false;
  auto s = open(box);
  ASSERT_EQ(s->login("tomo", "secret", false), 3);
  EXPECT_FALSE(s->pipelines());
  QList<QByteArray> uids;
  EXPECT_FALSE(s->uniqueIds(&uids));
  EXPECT_TRUE(s->alive());
  // The check's window is one command with such a server.
  for (int n = 1; n <= 3; ++n) {
    QList<Got> got = window(*s, retr(n, n));
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].message, mail(n));
    got = window(*s, dele(n, n));
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0].ok);
  }
  EXPECT_TRUE(s->quit());
  EXPECT_EQ(box->pipelined, 0);
  EXPECT_TRUE(box->messages.isEmpty());
}

TEST(Pop3Session, UniqueIdsComeInMessageOrderAndOnlyWhenPlausible) {
  auto box = boxWith(3);
  box->messages[1].uid = "has space";
  auto s = open(box);
  ASSERT_EQ(s->login("tomo", "secret", false), 3);
  QList<QByteArray> uids;
  ASSERT_TRUE(s->uniqueIds(&uids));
  EXPECT_EQ(uids, (QList<QByteArray>{"uid-1", QByteArray(), "uid-3"}));
}

TEST(Pop3Session, WhatAServerSendsCannotGrowWithoutBound) {
  // A line that never ends: given up at the limit, not buffered for ever.
  auto box = boxWith(1);
  box->endlessLine = 8 * 1024 * 1024;
  box->chunk = 64 * 1024;
  auto s = open(box);
  EXPECT_EQ(s->login("tomo", "secret", false), -1);
  EXPECT_FALSE(s->alive());
  EXPECT_EQ(s->failure().code, Code::Pop3LineTooLong);
  EXPECT_GT(s->failure().amount, maillib::pop3Limits().maxLine);
  EXPECT_LE(s->received(), maillib::pop3Limits().maxLine + 2 * box->chunk);
}

TEST(Pop3Session, AServerThatOnlyTricklesIsGivenUp) {
  // One byte at a time, slowly: less than the least in the time allowed.
  auto box = boxWith(0);
  box->add("u1", "Subject: slow\r\n\r\n" + QByteArray(4000, 'x') + "\r\n");
  auto s = open(box);
  ASSERT_EQ(s->login("tomo", "secret", false), 1);
  maillib::Pop3Limits limits;
  limits.slowWindowMs = 300;
  testhooks::Scoped<maillib::Pop3Limits*> hook(testhooks::pop3Limits, &limits);
  box->chunk = 1;
  box->delayMs = 20;
  QElapsedTimer t;
  t.start();
  EXPECT_TRUE(window(*s, retr(1, 1)).isEmpty());
  EXPECT_LT(t.elapsed(), 3000);
  EXPECT_FALSE(s->alive());
  EXPECT_EQ(s->failure().code, Code::Pop3TooSlow);
  EXPECT_LT(s->failure().amount, limits.slowMinBytes);
}

TEST(Pop3Session, ApopUsesTheGreetingsTimestamp) {
  // The example of RFC 1939.
  EXPECT_EQ(maillib::apopDigest("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
            QByteArray("c4c9334bac560ecc979e58001b3e22fb"));
  EXPECT_TRUE(maillib::apopDigest("+OK ready", "x").isEmpty());
  // Only a timestamp of the shape RFC 1939 gives, <local@domain> in
  // printable ASCII, is digested: a chosen-bytes challenge is the way in for
  // the known attacks on APOP's MD5.
  for (const QByteArray& greeting :
       {QByteArray("+OK <1896.697170952>"), QByteArray("+OK <@dbc.mtview.ca.us>"), QByteArray("+OK <1896@>"),
        QByteArray("+OK <18 96@dbc>"), QByteArray("+OK <1896@a@b>"), QByteArray("+OK <x<1896@dbc>"),
        QByteArray("+OK <1896\t@dbc>"), QByteArray("+OK <1896\x01@dbc>"), QByteArray("+OK <1896\xe3\x81\x82@dbc>"),
        QByteArray("+OK <>")})
    EXPECT_TRUE(maillib::apopDigest(greeting, "tanstaaf").isEmpty()) << greeting.toStdString();

  auto box = boxWith(2);
  auto s = open(box);
  EXPECT_EQ(s->login("tomo", "secret", true), 2);
  for (const QByteArray& c : box->commands) EXPECT_FALSE(c.startsWith("USER") || c.startsWith("PASS"));

  // A server without a timestamp cannot do APOP: refused before anything is sent.
  auto plain = boxWith(1);
  plain->greeting = "+OK ready";
  auto t = open(plain);
  EXPECT_EQ(t->login("tomo", "secret", true), -2);
  EXPECT_EQ(t->failure().code, Code::Pop3NoApop);
  EXPECT_EQ(plain->commands, QList<QByteArray>{"CAPA"});
}

TEST(Pop3Session, ARefusedLoginOrListKeepsTheServersWords) {
  auto box = boxWith(1);
  auto s = open(box);
  EXPECT_EQ(s->login("tomo", "wrong", false), -2);
  EXPECT_EQ(s->failure().code, Code::LoginDenied);
  EXPECT_EQ(s->failure().reply, QStringLiteral("-ERR [AUTH] Authentication failed."));
  EXPECT_TRUE(s->alive());

  // Line breaks in a password would smuggle in a command: refused unsent.
  auto box2 = boxWith(1);
  auto t = open(box2);
  EXPECT_EQ(t->login("tomo", "secret\r\nDELE 1", false), -2);
  EXPECT_EQ(t->failure().code, Code::Pop3BadLoginCharacter);
  EXPECT_EQ(box2->commands, QList<QByteArray>{"CAPA"});

  auto locked = boxWith(1);
  locked->refuseList = true;
  auto u = open(locked);
  EXPECT_EQ(u->login("tomo", "secret", false), -2);
  EXPECT_EQ(u->failure().code, Code::Pop3ListRefused);
  EXPECT_EQ(u->failure().reply, QStringLiteral("-ERR mailbox locked"));
}

TEST(Pop3Session, AnAnswerThatIsNotPop3EndsTheSession) {
  auto box = boxWith(1);
  box->garbageList = true;
  auto s = open(box);
  EXPECT_EQ(s->login("tomo", "secret", false), -1);
  EXPECT_FALSE(s->alive());
  EXPECT_EQ(s->failure().code, Code::Pop3NotUnderstood);
  EXPECT_EQ(s->failure().detail, QStringLiteral("HELLO THERE"));
}

namespace {

using maillib::Credentials;

const QByteArray kOAuthUser = "tomo@fake.example";

std::shared_ptr<FakeMailbox> bearerBox(int count, const QList<QByteArray>& listed) {
  auto box = boxWith(count);
  box->saslListed = listed;
  box->tokens = {"tok-good"};
  return box;
}

Credentials bearer(const QByteArray& token, const QByteArray& user = kOAuthUser) {
  return Credentials::bearer(QString::fromUtf8(user), QString::fromUtf8(token));
}

// Whether `token` (or a long enough piece of it) shows anywhere in what a
// failure says.
bool quoted(const maillib::Result& r, const QByteArray& token) {
  const QString t = QString::fromUtf8(token.left(12));
  return r.detail.contains(t) || r.reply.contains(t) || r.cause.contains(t) || r.host.contains(t);
}

}  // namespace

// OAUTHBEARER when CAPA lists it, XOAUTH2 when only that is listed or when
// CAPA has no SASL line at all; each initial response byte for byte, the
// user escaped where the GS2 header needs it.
TEST(Pop3Session, ABearerTokenLogsInWithTheMechanismCapaOffers) {
  struct Case {
    QList<QByteArray> listed;
    QByteArray user;
    QByteArray mechanism;
    QByteArray response;
  };
  const QList<Case> cases{
      {{"PLAIN", "XOAUTH2", "OAUTHBEARER"}, kOAuthUser, "OAUTHBEARER",
       "n,a=tomo@fake.example,\x01" "auth=Bearer tok-good\x01\x01"},
      {{"plain", "oauthbearer"}, "to,mo=1@fake.example", "OAUTHBEARER",
       "n,a=to=2Cmo=3D1@fake.example,\x01" "auth=Bearer tok-good\x01\x01"},
      {{"PLAIN", "XOAUTH2"}, kOAuthUser, "XOAUTH2", "user=tomo@fake.example\x01" "auth=Bearer tok-good\x01\x01"},
      {{}, kOAuthUser, "XOAUTH2", "user=tomo@fake.example\x01" "auth=Bearer tok-good\x01\x01"},
  };
  for (const Case& c : cases) {
    auto box = bearerBox(2, c.listed);
    box->oauthUser = c.user;
    auto s = open(box);
    EXPECT_EQ(s->login(bearer("tok-good", c.user)), 2) << c.mechanism.toStdString();
    EXPECT_EQ(box->commands, (QList<QByteArray>{"CAPA", "AUTH " + c.mechanism + ' ' + c.response.toBase64(), "LIST"}));
    ASSERT_EQ(box->bearerLogins.size(), 1);
    EXPECT_EQ(box->bearerLogins[0].user, c.user);
    EXPECT_TRUE(box->errorAnswers.isEmpty());
    EXPECT_TRUE(s->failure().ok());
  }

  // A SASL list without either: the token is not sent at all.
  auto box = bearerBox(1, {"PLAIN", "LOGIN"});
  auto s = open(box);
  EXPECT_EQ(s->login(bearer("tok-good")), -2);
  EXPECT_EQ(s->failure().code, Code::BearerNotOffered);
  EXPECT_EQ(box->commands, QList<QByteArray>{"CAPA"});
  // No list, and XOAUTH2 tried is refused outright: not offered either,
  // and not a token to sign in again for.
  auto none = bearerBox(1, {});
  none->saslTaken.clear();
  auto t = open(none);
  EXPECT_EQ(t->login(bearer("tok-good")), -2);
  EXPECT_EQ(t->failure().code, Code::BearerNotOffered);
  EXPECT_EQ(t->failure().reply, QStringLiteral("-ERR Unsupported authentication mechanism."));
  EXPECT_TRUE(t->alive());
}

// A command line holds 255 octets with its CR LF: an initial response that
// would pass that goes on its own line after the server's "+" (RFC 5034).
// Provider tokens run past 1500 characters.
TEST(Pop3Session, AnInitialResponseTooLongForTheCommandLineFollowsThePlus) {
  // The longest token whose AUTH line is exactly 255 octets, and one more.
  auto lineOf = [](int length) {
    return "AUTH XOAUTH2 " +
           ("user=" + kOAuthUser + "\x01" "auth=Bearer " + QByteArray(length, 'x') + "\x01\x01").toBase64() + "\r\n";
  };
  int fits = 1;
  while (lineOf(fits + 1).size() <= 255) ++fits;
  ASSERT_EQ(lineOf(fits).size(), 255);
  for (const auto& [listed, length] :
       QList<std::pair<QByteArray, int>>{{"XOAUTH2", fits}, {"XOAUTH2", fits + 1}, {"XOAUTH2", 2000}, {"OAUTHBEARER", 2000}}) {
    const QByteArray token = "t" + QByteArray(length - 1, 'x');
    auto box = bearerBox(1, {listed});
    box->tokens = {token};
    auto s = open(box);
    EXPECT_EQ(s->login(bearer(token)), 1) << length;
    EXPECT_EQ(box->longCommands, 0) << length;
    ASSERT_EQ(box->bearerLogins.size(), 1);
    EXPECT_EQ(box->bearerLogins[0].token, token);
    if (length == fits) {
      EXPECT_EQ(box->commands[1].size() + 2, 255);
    } else {
      EXPECT_EQ(box->commands, (QList<QByteArray>{"CAPA", "AUTH " + listed, "LIST"})) << length;
    }
  }
}

// A refused token: the server's challenge with its JSON status is answered
// as each mechanism asks (^A for OAUTHBEARER, an empty line for XOAUTH2),
// then the refusal is TokenRefused with that status, the session open for
// a fresh token. What the server says never carries the token back.
TEST(Pop3Session, ARefusedTokenIsAnsweredThroughTheErrorStepAndTold) {
  for (const auto& [mechanism, answer] :
       QList<std::pair<QByteArray, QByteArray>>{{"OAUTHBEARER", "AQ=="}, {"XOAUTH2", ""}}) {
    for (const int length : {8, 2000}) {
      const QByteArray stale = "tok-old" + QByteArray(length - 7, 's');
      auto box = bearerBox(2, {mechanism});
      auto s = open(box);
      EXPECT_EQ(s->login(bearer(stale)), -2);
      EXPECT_EQ(s->failure().code, Code::TokenRefused);
      EXPECT_EQ(s->failure().detail, QStringLiteral("invalid_token"));
      EXPECT_EQ(s->failure().reply, QStringLiteral("-ERR [AUTH] Authentication failed."));
      EXPECT_EQ(box->errorAnswers, QList<QByteArray>{answer}) << mechanism.toStdString();
      EXPECT_TRUE(s->alive());
      EXPECT_EQ(s->login(bearer("tok-good")), 2);
      EXPECT_TRUE(s->failure().ok());
    }
  }

  // A numeric status, as some providers send it; a server that refuses at
  // once without the error step.
  auto box = bearerBox(1, {"XOAUTH2"});
  box->errorJson = R"({"status":400,"schemes":"Bearer"})";
  auto s = open(box);
  EXPECT_EQ(s->login(bearer("tok-old")), -2);
  EXPECT_EQ(s->failure().code, Code::TokenRefused);
  EXPECT_EQ(s->failure().detail, QStringLiteral("400"));
  auto direct = bearerBox(1, {"XOAUTH2"});
  direct->errorStep = false;
  auto t = open(direct);
  EXPECT_EQ(t->login(bearer("tok-old")), -2);
  EXPECT_EQ(t->failure().code, Code::TokenRefused);
  EXPECT_TRUE(direct->errorAnswers.isEmpty());

  // The server's own trouble is not the token's: no sign-in asked for.
  auto busy = bearerBox(1, {"OAUTHBEARER"});
  busy->authRefusal = "-ERR [SYS/TEMP] Temporary authentication failure.";
  auto u = open(busy);
  EXPECT_EQ(u->login(bearer("tok-old")), -2);
  EXPECT_EQ(u->failure().code, Code::LoginUnavailable);

  // A server that echoes the token in its status and its refusal.
  for (const QByteArray& mechanism : {QByteArray("OAUTHBEARER"), QByteArray("XOAUTH2")}) {
    for (const int length : {12, 2000}) {
      const QByteArray secret = "tok-secret" + QByteArray(length - 10, 'z');
      const QByteArray line = (mechanism == "XOAUTH2" ? "user=" + kOAuthUser + "\x01" "auth=Bearer " + secret + "\x01\x01"
                                                     : "n,a=" + kOAuthUser + ",\x01" "auth=Bearer " + secret + "\x01\x01")
                                  .toBase64();
      auto echo = bearerBox(1, {mechanism});
      echo->errorJson = R"({"status":"invalid )" + secret + R"("})";
      echo->authRefusal = "-ERR [AUTH] bad token " + secret + " in " + line;
      auto v = open(echo);
      EXPECT_EQ(v->login(bearer(secret)), -2);
      EXPECT_EQ(v->failure().code, Code::TokenRefused);
      EXPECT_FALSE(quoted(v->failure(), secret)) << v->failure().detail.toStdString() << v->failure().reply.toStdString();
      EXPECT_FALSE(quoted(v->failure(), line));
      EXPECT_TRUE(v->failure().reply.startsWith(u"-ERR [AUTH] bad token "));

      // The echo in an answer that is not POP3 at all: the session ends,
      // and what it quotes is cut only once the token is out.
      auto odd = bearerBox(1, {mechanism});
      odd->errorStep = false;
      odd->authRefusal = "BAD token " + secret + " in " + line;
      auto w = open(odd);
      EXPECT_EQ(w->login(bearer(secret)), -1);
      EXPECT_EQ(w->failure().code, Code::Pop3NotUnderstood);
      EXPECT_FALSE(quoted(w->failure(), secret)) << w->failure().detail.toStdString();
      EXPECT_FALSE(quoted(w->failure(), line.mid(48))) << w->failure().detail.toStdString();
      EXPECT_TRUE(w->failure().detail.startsWith(u"BAD token "));
    }
  }
}

// Over a connection in clear a token is never sent, whatever was allowed
// for a password; nor one that would break the framing.
TEST(Pop3Session, ABearerTokenIsNeverSentInClearOrMalformed) {
  auto box = bearerBox(1, {"XOAUTH2", "OAUTHBEARER"});
  box->tls = false;
  auto s = open(box);
  EXPECT_EQ(s->login(bearer("tok-good")), -2);
  EXPECT_EQ(s->failure().code, Code::TokenNeedsTls);
  EXPECT_EQ(box->commands, QList<QByteArray>{"CAPA"});
  EXPECT_TRUE(box->bearerLogins.isEmpty());
  EXPECT_FALSE(quoted(s->failure(), "tok-good"));
  // A password login on the same connection is the user's permission to give.
  EXPECT_EQ(s->login("tomo", "secret", false), 1);

  for (const QByteArray& token : {QByteArray("tok\r\nDELE 1"), QByteArray("tok\x01" "x"), QByteArray("tok\0x", 5)}) {
    auto bad = bearerBox(1, {"XOAUTH2"});
    auto t = open(bad);
    EXPECT_EQ(t->login(bearer(token)), -2);
    EXPECT_EQ(t->failure().code, Code::Pop3BadLoginCharacter);
    EXPECT_EQ(bad->commands, QList<QByteArray>{"CAPA"});
  }
}
