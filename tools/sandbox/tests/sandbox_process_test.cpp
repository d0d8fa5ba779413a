// The tessora-sandbox program itself: it starts on a system-chosen port, tells scripts where it
// is and how to trust it, serves, and stops cleanly on SIGTERM and SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "tls_client.h"

extern char** environ;

namespace tessora::sandbox {
namespace {

using namespace std::chrono_literals;

class SandboxProcess {
 public:
  SandboxProcess(const std::filesystem::path& dir, std::vector<std::string> args)
      : output_(dir / "output.txt") {
    args.insert(args.begin(), TESSORA_SANDBOX_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~SandboxProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Sends `signal` and waits (bounded) for the exit; the exit status, or -1.
  int StopWith(int signal) {
    kill(pid_, signal);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  std::string Output() const { return tessora::test::ReadFileBytes(output_); }

 private:
  std::filesystem::path output_;
  pid_t pid_ = -1;
};

// Waits (bounded) until `file` holds a whole line.
std::string WaitForLine(const std::filesystem::path& file) {
  for (int i = 0; i < 400; ++i) {
    const std::string text = tessora::test::ReadFileBytes(file);
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(50ms);
  }
  return "";
}

TEST(SandboxProcessTest, ServesOnTheAnnouncedPortAndStopsOnSigterm) {
  tessora::test::TempDir dir;
  SandboxProcess sandbox(dir.Path(), {"--port", "0", "--port-file", (dir / "port").string(),
                                      "--ca-out", (dir / "ca.pem").string(), "--client-id", "me",
                                      "--client-secret", "pw", "--token-lifetime", "60"});
  const std::string port = WaitForLine(dir / "port");
  ASSERT_FALSE(port.empty()) << sandbox.Output();

  test::TlsClient client(static_cast<std::uint16_t>(std::stoi(port)),
                         tessora::test::ReadFileBytes(dir / "ca.pem"));
  client.Send("POST /" TESSORA_API_HOST "/v1/oauth/token HTTP/1.0\r\nAuthorization: " +
              test::BasicCredentials("me", "pw") + "\r\n\r\n");
  const auto reply = client.Receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("\"expires_in\":60"), std::string::npos);

  EXPECT_EQ(sandbox.StopWith(SIGTERM), 0);
  const std::string output = sandbox.Output();
  const std::string base = "https://127.0.0.1:" + port.substr(0, port.size() - 1) + "/";
  EXPECT_NE(output.find("listening on " + base), std::string::npos) << output;
  EXPECT_NE(output.find("export SSL_CERT_FILE=" + (dir / "ca.pem").string()), std::string::npos);
  EXPECT_NE(output.find("export SSL_CERT_FILE='Z:"), std::string::npos);
  EXPECT_NE(output.find("POST /" TESSORA_API_HOST "/v1/oauth/token (HTTP/1.0) -> 200"),
            std::string::npos);
  EXPECT_NE(output.find("stopped (SIGTERM)"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "ca.pem"));  // the caller's file stays
}

TEST(SandboxProcessTest, TheDefaultCaDirectoryIsRemovedOnSigint) {
  tessora::test::TempDir dir;
  SandboxProcess sandbox(dir.Path(), {"--port-file", (dir / "port").string(), "--quiet"});
  ASSERT_FALSE(WaitForLine(dir / "port").empty()) << sandbox.Output();
  const std::string output = sandbox.Output();
  const std::size_t start = output.find("test CA        ");
  ASSERT_NE(start, std::string::npos) << output;
  const std::string ca = output.substr(start + 15, output.find('\n', start) - start - 15);
  EXPECT_TRUE(std::filesystem::exists(ca)) << ca;
  EXPECT_EQ(sandbox.StopWith(SIGINT), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ca).parent_path())) << ca;
}

TEST(SandboxProcessTest, HelpAndBadOptions) {
  tessora::test::TempDir dir;
  SandboxProcess help(dir.Path(), {"--help"});
  EXPECT_EQ(help.StopWith(0), 0);
  EXPECT_NE(help.Output().find("POST   /v1/charges/:id/cancel"), std::string::npos);
  SandboxProcess bad(dir.Path(), {"--port", "70000"});
  EXPECT_EQ(bad.StopWith(0), 2);
}

}  // namespace
}  // namespace tessora::sandbox
