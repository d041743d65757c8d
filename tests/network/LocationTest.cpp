// Mounting sftp locations through GIO with our questions, against a private
// sshd and GVfs, and the way between a location's URI and its FUSE path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "NetworkServers.h"
#include "platform/network/Location.h"

namespace {

// Answers the password questions from a script; a question past it cancels.
struct ScriptedQuestions : network::MountQuestions {
  std::vector<std::string> passwords;
  std::vector<network::PasswordRequest> asked;
  int choices = 0;
  bool AskPassword(const network::PasswordRequest& request, network::PasswordAnswer& answer) override {
    asked.push_back(request);
    if (asked.size() > passwords.size()) return false;
    answer.password = passwords[asked.size() - 1];
    return true;
  }
  int AskChoice(const std::string&, const std::vector<std::string>&) override {
    ++choices;
    return -1;
  }
  std::vector<bool> acceptKeys;
  std::vector<std::string> fingerprints;
  bool AcceptHostKey(const std::string&, const std::string& fingerprint, const std::string&) override {
    fingerprints.push_back(fingerprint);
    return fingerprints.size() <= acceptKeys.size() && acceptKeys[fingerprints.size() - 1];
  }
};

// The fingerprint of a public key file as ssh-keygen shows it ("SHA256:...").
std::string FingerprintOf(const std::string& publicKey) {
  std::string out;
  if (FILE* pipe = ::popen(("ssh-keygen -l -E sha256 -f '" + publicKey + "'").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
  }
  const size_t at = out.find("SHA256:");
  return at == std::string::npos ? std::string() : out.substr(at, out.find(' ', at) - at);
}

class LocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!servers.skipReason.empty()) GTEST_SKIP() << servers.skipReason;
  }
  void TearDown() override {
    if (servers.skipReason.empty()) servers.UnmountAll();
  }
  NetworkServers& servers = NetworkServers::Get();
};

}  // namespace

TEST(LocationUriTest, TellsLocationsFromPathsAndNamesTheMissingPackage) {
  EXPECT_TRUE(network::IsLocationUri("sftp://u@h:22/x"));
  EXPECT_TRUE(network::IsLocationUri("SMB://nas/share"));
  EXPECT_TRUE(network::IsLocationUri("davs://h/dav/"));
  EXPECT_FALSE(network::IsLocationUri("file:///home"));
  EXPECT_FALSE(network::IsLocationUri("/home/a://b"));
  EXPECT_FALSE(network::IsLocationUri("a b://c"));
  EXPECT_FALSE(network::IsLocationUri("://c"));
  EXPECT_EQ(network::SchemeOf("SFTP://h/"), "sftp");
  // A scheme no backend knows is refused before anything is started.
  ScriptedQuestions questions;
  network::MountResult result = network::MountLocation("nosuchscheme://host/x", questions);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("gvfs-backends"), std::string::npos) << result.message;
  EXPECT_TRUE(questions.asked.empty());
  // Paths outside the FUSE mount stay paths.
  EXPECT_EQ(network::ShownLocation("/tmp"), "/tmp");
  EXPECT_EQ(network::UriOfLocalPath(network::FuseRoot()), "");
}

TEST_F(LocationTest, MountsWithTheAgentsKeyAndMapsBothWays) {
  const std::string folder = servers.Remote() + "/keyed";
  ::mkdir(folder.c_str(), 0755);
  std::ofstream(folder + "/a.txt") << "over the wire";
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  EXPECT_FALSE(network::IsMounted(uri));
  EXPECT_EQ(network::LocalPathOf(uri), "");

  ScriptedQuestions questions;  // a key needs no question
  network::MountResult result = network::MountLocation(uri, questions);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_TRUE(questions.asked.empty());
  EXPECT_TRUE(network::IsMounted(uri));

  const std::string local = network::ReachableLocalPath(uri);
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(local.rfind(network::FuseRoot() + "/", 0), 0u) << local;
  std::ifstream in(local + "/a.txt");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "over the wire");
  // The pane shows and keeps the URI of what it lists by path.
  EXPECT_EQ(network::ShownLocation(local), uri);
  EXPECT_EQ(network::ShownLocation(local + "/a.txt"), uri + "/a.txt");
  // Mounting again is fine at once.
  EXPECT_TRUE(network::MountLocation(uri, questions).ok);
}

TEST_F(LocationTest, MountsWithThePasswordTheQuestionGives) {
  const std::string uri = servers.Uri(NetworkServers::kPasswordUser, servers.Remote());
  ScriptedQuestions questions;
  questions.passwords = {NetworkServers::kPassword};
  network::MountResult result = network::MountLocation(uri, questions);
  ASSERT_TRUE(result.ok) << result.message;
  ASSERT_EQ(questions.asked.size(), 1u);
  EXPECT_TRUE(questions.asked[0].needPassword);
  EXPECT_FALSE(questions.asked[0].message.empty());
  struct stat st {};
  EXPECT_EQ(::stat(network::ReachableLocalPath(uri).c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(LocationTest, AWrongPasswordIsAskedAgainAndNeverMounts) {
  const std::string uri = servers.Uri(NetworkServers::kPasswordUser, servers.Remote());
  ScriptedQuestions questions;
  questions.passwords = {"wrong one"};  // then the second question is cancelled
  network::MountResult result = network::MountLocation(uri, questions);
  EXPECT_FALSE(result.ok);
  EXPECT_GE(questions.asked.size(), 2u);
  EXPECT_FALSE(network::IsMounted(uri));
  EXPECT_EQ(network::LocalPathOf(uri), "");
  // A cancel says nothing more; any other end says why.
  if (!result.cancelled) {
    EXPECT_NE(result.message.find("開けません"), std::string::npos) << result.message;
  }
}

TEST_F(LocationTest, AServerThatIsNotThereIsReportedInJapanese) {
  SshServer gone;
  std::string why;
  ASSERT_TRUE(gone.Start(servers.Root(), why)) << why;
  const int port = gone.Port();
  gone.Kill();
  ScriptedQuestions questions;
  network::MountResult result = network::MountLocation(servers.Uri(NetworkServers::kKeyUser, "/", port), questions);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.cancelled);
  EXPECT_NE(result.message.find("開けません"), std::string::npos) << result.message;
}

TEST_F(LocationTest, AnUnknownHostKeyIsAskedWithItsFingerprintAndRememberedOnceAccepted) {
  SshServer fresh;
  std::string why;
  ASSERT_TRUE(fresh.Start(servers.Root(), why)) << why;
  servers.CheckHostKeys(true);
  struct Off {
    NetworkServers& servers;
    ~Off() { servers.CheckHostKeys(false); }
  } off{servers};
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, servers.Remote(), fresh.Port());
  const std::string expected = FingerprintOf(servers.Root() + "/hostkey.pub");
  ASSERT_FALSE(expected.empty());

  // Refused: no login, and nothing is remembered.
  ScriptedQuestions questions;
  questions.acceptKeys = {false};
  network::MountResult result = network::MountLocation(uri, questions);
  EXPECT_FALSE(result.ok);
  ASSERT_EQ(questions.fingerprints.size(), 1u);
  EXPECT_EQ(questions.fingerprints[0], expected);
  EXPECT_EQ(questions.choices, 0);
  EXPECT_FALSE(network::IsMounted(uri));

  // Accepted: mounted, and the next login asks no more.
  questions.acceptKeys = {false, true};
  result = network::MountLocation(uri, questions);
  ASSERT_TRUE(result.ok) << result.message;
  ASSERT_EQ(questions.fingerprints.size(), 2u);
  EXPECT_EQ(questions.fingerprints[1], expected);
  servers.UnmountAll();
  ASSERT_FALSE(network::IsMounted(uri));
  result = network::MountLocation(uri, questions);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(questions.fingerprints.size(), 2u);
}
