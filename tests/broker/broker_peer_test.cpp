// The broker serves only the process that started it, over the socket that process made, and
// only on an image of that process's user (or root's).
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/image_test.h"

extern char** environ;

namespace {
using pelisto::testing::ImageTest;

constexpr char kBroker[] = PELISTO_BIN_DIR "/pelisto-broker";

// The descriptors a start hands the broker, and the client's end to read its answers from.
struct Ends {
  int in = -1;
  int out = -1;
  int client = -1;          // read until the broker leaves
  std::vector<int> extra;   // closed once the broker has started
};

struct Outcome {
  int exit_code = -1;
  std::string sent;    // what the broker wrote to its channel
  std::string errors;  // its standard error
};

int SocketPair(int type, int ends[2]) { return socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, ends); }

// A socket pair made by another process, which has left by the time it is used.
bool ForeignPair(int ends[2]) {
  int carrier[2];
  if (SocketPair(SOCK_DGRAM, carrier) != 0) return false;
  pid_t child = fork();
  if (child == 0) {
    int made[2];
    if (SocketPair(SOCK_STREAM, made) != 0) _exit(1);
    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof made)];
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof made);
    std::memcpy(CMSG_DATA(c), made, sizeof made);
    _exit(sendmsg(carrier[1], &msg, 0) == 1 ? 0 : 1);
  }
  char byte;
  iovec io{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const bool got = recvmsg(carrier[0], &msg, MSG_CMSG_CLOEXEC) == 1 && CMSG_FIRSTHDR(&msg) != nullptr;
  if (got) std::memcpy(ends, CMSG_DATA(CMSG_FIRSTHDR(&msg)), 2 * sizeof(int));
  int status = 0;
  waitpid(child, &status, 0);
  close(carrier[0]);
  close(carrier[1]);
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class BrokerPeerTest : public ImageTest {
 protected:
  // Starts the broker on `ends` and lets it run until it leaves: the client's end stops
  // sending at once, so a broker that serves leaves with 0 once it has said hello.
  Outcome Run(const Ends& ends) {
    const std::string errors = prefix() + "/broker.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends.in, 0);
    posix_spawn_file_actions_adddup2(&actions, ends.out, 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {kBroker, "--prefix", prefix(), "--stdio"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome outcome;
    const int err = posix_spawn(&pid, kBroker, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {ends.in, ends.out}) {
      if (fd != ends.client) close(fd);
    }
    for (int fd : ends.extra) close(fd);
    if (err != 0) {
      close(ends.client);
      ADD_FAILURE() << "cannot start the broker: " << std::strerror(err);
      return outcome;
    }
    shutdown(ends.client, SHUT_WR);
    char buf[4096];
    for (ssize_t n; (n = read(ends.client, buf, sizeof buf)) > 0;) outcome.sent.append(buf, static_cast<std::size_t>(n));
    close(ends.client);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.errors = pelisto::testing::ReadHostFile(errors);
    return outcome;
  }

  // A start on a stream socket pair this process makes, as the control does.
  Ends OwnPair() {
    int s[2];
    EXPECT_EQ(SocketPair(SOCK_STREAM, s), 0);
    return Ends{s[1], s[1], s[0], {}};
  }
};

struct RefusedStart {
  const char* name;
  std::function<Ends()> arrange;
  const char* says;
};

void PrintTo(const RefusedStart& c, std::ostream* out) { *out << c.name; }

class BrokerPeerRefused : public BrokerPeerTest, public ::testing::WithParamInterface<RefusedStart> {};

TEST_P(BrokerPeerRefused, LeavesWithoutServing) {
  const Outcome outcome = Run(GetParam().arrange());
  EXPECT_EQ(outcome.exit_code, 1) << outcome.errors;
  EXPECT_TRUE(outcome.sent.empty()) << "the broker said hello to a channel it must refuse";
  EXPECT_NE(outcome.errors.find(GetParam().says), std::string::npos) << outcome.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Starts, BrokerPeerRefused,
    ::testing::Values(
        RefusedStart{"pipes",
                     [] {
                       int in[2], out[2];
                       if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
                       // The client reads the broker's output; its input's writer closes at once.
                       return Ends{in[0], out[1], out[0], {in[1]}};
                     },
                     "not one socket"},
        RefusedStart{"socket_in_pipe_out",
                     [] {
                       int s[2], out[2];
                       if (SocketPair(SOCK_STREAM, s) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
                       return Ends{s[1], out[1], out[0], {s[0]}};
                     },
                     "not one socket"},
        RefusedStart{"packet_socket",
                     [] {
                       int s[2];
                       if (SocketPair(SOCK_SEQPACKET, s) != 0) std::abort();
                       return Ends{s[1], s[1], s[0], {}};
                     },
                     "not a stream"},
        RefusedStart{"socket_made_by_another_process",
                     [] {
                       int s[2];
                       if (!ForeignPair(s)) std::abort();
                       return Ends{s[1], s[1], s[0], {}};
                     },
                     "did not start this one"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrokerPeerTest, ServesTheProcessThatStartedIt) {
  const Outcome outcome = Run(OwnPair());
  EXPECT_EQ(outcome.exit_code, 0) << outcome.errors;
  EXPECT_FALSE(outcome.sent.empty()) << "no hello";
}

// An elevated broker works on the image of the user it serves: that user's image is
// trusted, another user's is not, whoever owns the broker.
TEST_F(BrokerPeerTest, AsRootTrustsTheImageOfTheUserItServesOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can serve another user";
  constexpr uid_t kUser = 4242;
  for (const std::string& own : {prefix(), prefix() + "/image.conf"}) {
    ASSERT_EQ(chown(own.c_str(), kUser, kUser), 0) << own;
  }
  // The channel made as that user, as a control of theirs would make it.
  int s[2];
  ASSERT_EQ(seteuid(kUser), 0);
  const int made = SocketPair(SOCK_STREAM, s);
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_EQ(made, 0);
  Outcome served = Run(Ends{s[1], s[1], s[0], {}});
  EXPECT_EQ(served.exit_code, 0) << served.errors;
  EXPECT_FALSE(served.sent.empty()) << "no hello";

  Outcome refused = Run(OwnPair());  // root's own channel, on the user's image
  EXPECT_EQ(refused.exit_code, 1) << refused.errors;
  EXPECT_TRUE(refused.sent.empty());
  EXPECT_NE(refused.errors.find("owned by user 4242"), std::string::npos) << refused.errors;
}

}  // namespace
