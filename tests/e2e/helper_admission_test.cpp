// Admission as a local attacker tries it: code slipped into a signed client, copies and traced
// clients, signatures that are not what they seem, and connections meant to exhaust or stall
// the helper. Each must leave the helper serving the genuine client.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ipc/frame.h"
#include "platform/ipc/helper_messages.h"
#include "tests/e2e/helper_fixture.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

// A folder that user nobody owns, reachable by nobody.
fs::path nobodysFolder(const TempDir& base) {
  fs::path folder = base / "nobody";
  fs::create_directories(folder);
  EXPECT_EQ(runProgram({"chown", "nobody:nogroup", folder.string()}, {}).exitStatus, 0);
  return folder;
}

void copySigned(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::copy_file(from.string() + ".sig", to.string() + ".sig", fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms(0755));  // a copy without the setgid bit
}

TEST_P(HelperAdmissionTest, APreloadedLibraryNeverRunsACommandAsRoot) {
  startHelper();
  auto genuine = startGenuine(1);
  auto marker = logs / "preloaded-ran";
  auto frame = logs / "frame";
  writeTextFile(frame,
                platform::encodeFrame(platform::encodeRequest(
                    {1, "executeScriptWithCommand:completion:", "id > " + marker.string()})));
  fs::permissions(frame, fs::perms(0644));
  // As the user would start it: the variables reach the client alone.
  auto preloaded = [&](const fs::path& program, const std::string& action) {
    // In a sanitized build the sanitizer's runtime would refuse to start behind the library.
    return runProgram(asNobody({"env", std::string("LD_PRELOAD=") + kPreloadInjectLibrary,
                                "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0",
                                "INJECT_SOCKET=" + socket(), "INJECT_FRAME=" + frame.string(),
                                program.string(), socket(), action}),
                      {});
  };
  // Installed setgid, the client starts in secure-execution mode: the loader ignores the
  // library, and the client itself is served.
  auto served = preloaded(client("good"), "run:exit 3");
  EXPECT_EQ(served.out, "reply 3\n") << served.err;
  EXPECT_FALSE(hasLoggedRefusal("secure-execution mode"));
  // A copy without the setgid bit loads it; its constructor is turned away, and so is the copy.
  fs::path plain = logs / "plain";
  copySigned(client("good"), plain);
  EXPECT_EQ(preloaded(plain, "run:exit 0").out, "no reply\n");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLoggedRefusal("not started in secure-execution mode"));
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 1\n");
}

// Each row makes a client that runs the genuine code but is not protected as admission asks,
// and the reason the refusal must name.
TEST_P(HelperAdmissionTest, ClientsOutsideRootsControlDumpableOrTracedAreRefused) {
  startHelper();
  // Keeps the helper up between the tries.
  auto genuine = startGenuine(1);
  auto marker = logs / "ran";
  std::string script = "run:touch " + marker.string();
  fs::path users = nobodysFolder(logs);
  auto refusedAs = [&](std::vector<std::string> command, bool asUser) {
    return runProgram(asUser ? asNobody(command) : command, {{"ASAN_OPTIONS", "detect_leaks=0"}});
  };
  auto client = [&](const fs::path& path, std::vector<std::string> actions = {}) {
    std::vector<std::string> command{path.string(), socket()};
    actions.push_back(script);
    command.insert(command.end(), actions.begin(), actions.end());
    return command;
  };
  // A client in root's folder whose executable or signature (file) is then given mode.
  auto withMode = [&](const std::string& name, const std::string& file, fs::perms mode) {
    return [&, name, file, mode] {
      makeClient(logs / name, "ostrel.shelvo", "leaf", "intermediate");
      fs::permissions(logs / file, mode);
      return client(logs / name);
    };
  };
  struct Row {
    const char* what;
    std::function<std::vector<std::string>()> make;  // the command that runs the client
    bool asUser;
    std::string reason;
  };
  const Row rows[] = {
      {"the user's own copy, not setgid",
       [&] {
         copySigned(HelperTest::client("good"), users / "mine");
         runProgram({"chown", "nobody:nogroup", (users / "mine").string()}, {});
         return client(users / "mine");
       },
       true, "not started in secure-execution mode"},
      {"installed by root in a folder the user may change",
       [&] {
         makeClient(users / "swappable", "ostrel.shelvo", "leaf", "intermediate");
         return client(users / "swappable");
       },
       true, "the folder " + users.string() + " is not owned by root or is writable by others"},
      {"a folder further up that the user may change",
       [&] {
         fs::create_directories(users / "inner");
         makeClient(users / "inner/client", "ostrel.shelvo", "leaf", "intermediate");
         return client(users / "inner/client");
       },
       true, "the folder " + users.string() + " is not owned by root or is writable by others"},
      {"a signature others may write", withMode("open", "open.sig", fs::perms(0666)), false,
       (logs / "open.sig").string() + " is not owned by root or is writable"},
      {"a signature its group may write", withMode("groupsig", "groupsig.sig", fs::perms(0664)),
       false, (logs / "groupsig.sig").string() + " is not owned by root or is writable"},
      {"an executable its group may write", withMode("groupexe", "groupexe", fs::perms(02775)),
       true, (logs / "groupexe").string() + " is not owned by root or is writable"},
      {"a client that made itself dumpable",
       [&] { return client(HelperTest::client("good"), {"dumpable"}); }, true,
       "the client is dumpable"},
      {"under a tracer, whose owner could change what the client does",
       [&] {
         auto command = client(HelperTest::client("good"));
         command.insert(command.begin(), {"strace", "-f", "-o", "/dev/null"});
         return command;
       },
       false, "the client is being traced"},
  };
  for (const auto& row : rows) {
    auto result = refusedAs(row.make(), row.asUser);
    EXPECT_EQ(result.out, "no reply\n") << row.what << ": " << result.err;
    EXPECT_TRUE(hasLoggedRefusal(row.reason)) << row.what;
  }
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 1\n");
}

TEST_P(HelperAdmissionTest, AFileMountedOverTheClientsPathIsNotTakenForTheFileThere) {
  startHelper();
  // The genuine bytes, set up as a client, but where the user could replace them; in a mount
  // namespace of its own they are mounted over the genuine client's path, so the process's
  // executable reads as that path while the signature and protection there belong to another
  // file.
  fs::path users = nobodysFolder(logs);
  fs::path stand = users / "stand-in";
  fs::copy_file(client("good"), stand);
  runProgram({"chown", "root:shelvo-client", stand.string()}, {});
  fs::permissions(stand, fs::perms(02755));
  auto marker = logs / "ran";
  auto result = runProgram(
      {"unshare", "-m", "--", "sh", "-c",
       "mount --bind \"$0\" \"$1\" && exec setpriv --reuid=nobody --regid=nogroup "
       "--clear-groups -- \"$1\" \"$2\" \"$3\"",
       stand.string(), client("good").string(), socket(), "run:touch " + marker.string()},
      {});
  EXPECT_EQ(result.out, "no reply\n") << result.err;
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLogged(
      "error", "Could not get 'secCode' with the audit token. cannot find code object on disk"));
}

TEST_P(HelperAdmissionTest, AnAdmittedClientThatExecutesAnotherProgramIsCutOff) {
  startHelper();
  auto marker = logs / "ran";
  // The other program is signed and hardened too; only the change of executable gives it away.
  auto result = run(
      "good", {"run:exit 0", "exec:" + client("otherid").string(), "run:touch " + marker.string()});
  EXPECT_EQ(result.out, "reply 0\nno reply\n");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLogged("error", "The client started another program; closing its connection"));
}

TEST_P(HelperAdmissionTest, AClientWhoseFileWasDeletedIsRefusedThoughALinkNamesItsOldPath) {
  startHelper();
  fs::path folder = logs / "victim-folder";
  fs::create_directories(folder);
  fs::path victim = folder / "victim";
  makeClient(victim, "ostrel.shelvo", "leaf", "intermediate");
  auto go = logs / "go";
  auto marker = logs / "ran";
  BackgroundProcess running(
      {victim.string(), socket(), "await-file:" + go.string(), "run:touch " + marker.string()}, {},
      (logs / "victim.out").string());
  awaitFileLine((logs / "victim.out").string(), 30000);  // it runs
  // /proc/<pid>/exe now reads "<victim> (deleted)", and a file of that name is the same inode.
  fs::path lookalike = victim.string() + " (deleted)";
  fs::create_hard_link(victim, lookalike);
  fs::copy_file(victim.string() + ".sig", lookalike.string() + ".sig");
  fs::remove(victim);
  fs::remove(victim.string() + ".sig");
  writeTextFile(go, "");
  EXPECT_EQ(running.waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(readTextFile(logs / "victim.out"), "waiting\nno reply\n");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLogged(
      "error", "Could not get 'secCode' with the audit token. cannot find code object on disk"));
}

TEST_F(HelperTest, SignaturesThatAreNotWhatTheySeemAreRefusedWithoutHarm) {
  startHelper();
  auto genuine = startGenuine(6);

  // Signed by anyone, with fields of the wrong type.
  for (const char* content : {R"({"version":"1","identifier":"ostrel.shelvo",)"
                              R"("hashAlgorithm":"sha256","executableHash":"00"})",
                              R"({"version":1,"identifier":"ostrel.shelvo",)"
                              R"("hashAlgorithm":5,"executableHash":"00"})"}) {
    fs::path mistyped = logs / "mistyped";
    makeClient(mistyped, "ostrel.shelvo", "leaf", "intermediate");
    writeTextFile(logs / "cd.json", content);
    ASSERT_EQ(runProgram({"openssl", "cms", "-sign", "-binary", "-nodetach", "-md", "sha256", "-in",
                          (logs / "cd.json").string(), "-signer", pki("selfsigned.pem").string(),
                          "-inkey", pki("selfsigned.key").string(), "-outform", "DER", "-out",
                          mistyped.string() + ".sig"},
                         {})
                  .exitStatus,
              0);
    EXPECT_EQ(run(mistyped.string(), {"run:exit 0"}).out, "no reply\n") << content;
  }
  EXPECT_TRUE(hasLoggedRefusal("invalid signature (code or signature have been modified)"));

  // A FIFO where the signature should be must not stall the helper.
  fs::path fifo = logs / "fifo";
  makeClient(fifo, "ostrel.shelvo", "leaf", "intermediate");
  fs::remove(fifo.string() + ".sig");
  ASSERT_EQ(::mkfifo((fifo.string() + ".sig").c_str(), 0644), 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(run(fifo.string(), {"run:exit 0"}).out, "no reply\n");
  EXPECT_EQ(run("good", {"run:exit 9"}).out, "reply 9\n");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_TRUE(hasLoggedRefusal(fifo.string() + ".sig is not a regular file"));

  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 6\n");
}

TEST_F(HelperTest, OneUserCannotExhaustTheHelper) {
  startHelper();
  // An admitted client of another user announces 64 MiB frames on 8 more connections, sending
  // one byte of each, then tries 700 more, of which its cap of 16 lets it hold 7.
  BackgroundProcess hog(
      command("good", {"run:exit 0", "announce:8", "hold:700", "sleep:60000"}, true), {},
      (logs / "hog.out").string());
  ASSERT_TRUE(eventually([&] { return holds(logs / "hog.out", "held"); }));
  EXPECT_EQ(readTextFile(logs / "hog.out"), "reply 0\nannounced 8\nheld 7\n");
  EXPECT_EQ(run("good", {"run:exit 4"}).out, "reply 4\n");
  EXPECT_TRUE(hasLogged(
      "error", "Too many connections from user 65534 (per-user limit 16); refusing a new one"));
  EXPECT_LT(helperResidentKiB(), 64 * 1024) << "a frame's buffer grows as its bytes arrive";
  EXPECT_FALSE(helper->waitForExit(std::chrono::milliseconds(0)));
}

INSTANTIATE_TEST_SUITE_P(PeerLookup, HelperAdmissionTest, ::testing::Values("pidfd", "pid-number"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param == "pidfd" ? "Pidfd" : "PidNumber";
                         });

}  // namespace
}  // namespace shelvo::test
