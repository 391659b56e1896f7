// Admission as a local attacker tries it: code slipped into a signed client, copies and traced
// clients, signatures that are not what they seem, and connections meant to exhaust or stall
// the helper. Each must leave the helper serving the genuine client.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

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

TEST_F(HelperTest, APreloadedLibraryNeverRunsACommandAsRoot) {
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

TEST_F(HelperTest, CopiesOutsideRootsControlAndTracedClientsAreRefused) {
  startHelper();
  // Keeps the helper up between the tries.
  auto genuine = startGenuine(1);
  auto marker = logs / "ran";
  std::string script = "run:touch " + marker.string();

  // The user's own copy in a folder of theirs: not setgid, so not in secure-execution mode.
  fs::path folder = nobodysFolder(logs);
  copySigned(client("good"), folder / "mine");
  runProgram({"chown", "-R", "nobody:nogroup", folder.string()}, {});
  EXPECT_EQ(run((folder / "mine").string(), {script}, true).out, "no reply\n");
  EXPECT_TRUE(hasLoggedRefusal("not started in secure-execution mode"));

  // Even set up by root, a client in a folder that user may change is refused: they could swap
  // the file or its signature under the helper.
  makeClient(folder / "swappable", "ostrel.shelvo", "leaf", "intermediate");
  EXPECT_EQ(run((folder / "swappable").string(), {script}, true).out, "no reply\n");
  EXPECT_TRUE(hasLoggedRefusal("the folder " + folder.string() +
                               " is not owned by root or is writable by others"));

  // A signature file others may write.
  fs::path open = logs / "openly-signed";
  makeClient(open, "ostrel.shelvo", "leaf", "intermediate");
  fs::permissions(open.string() + ".sig", fs::perms(0666));
  EXPECT_EQ(run(open.string(), {script}).out, "no reply\n");
  EXPECT_TRUE(hasLoggedRefusal(open.string() + ".sig is not owned by root or is writable"));

  // Under a tracer, whose owner could change what the client does.
  auto traced =
      runProgram({"strace", "-f", "-o", "/dev/null", client("good").string(), socket(), script},
                 {{"ASAN_OPTIONS", "detect_leaks=0"}});  // LeakSanitizer cannot work under a tracer
  EXPECT_EQ(traced.out, "no reply\n") << traced.err;
  EXPECT_TRUE(hasLoggedRefusal("the client is being traced"));

  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 1\n");
}

TEST_F(HelperTest, AnAdmittedClientThatExecutesAnotherProgramIsCutOff) {
  startHelper();
  auto marker = logs / "ran";
  // The other program is signed and hardened too; only the change of executable gives it away.
  auto result = run(
      "good", {"run:exit 0", "exec:" + client("otherid").string(), "run:touch " + marker.string()});
  EXPECT_EQ(result.out, "reply 0\nno reply\n");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLogged("error", "The client started another program; closing its connection"));
}

TEST_F(HelperTest, AClientWhoseFileWasDeletedIsRefusedThoughALinkNamesItsOldPath) {
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
  awaitFileLine((logs / "victim.out").string());  // it runs
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
  // An admitted client of another user holds 700 idle connections, then 24 more that announce
  // 64 MiB frames and send one byte of each.
  BackgroundProcess hog(
      command("good", {"run:exit 0", "idle:700", "announce:24", "sleep:60000"}, true), {},
      (logs / "hog.out").string());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (readTextFile(logs / "hog.out").find("announced") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(readTextFile(logs / "hog.out").find("announced"), std::string::npos)
      << readTextFile(logs / "hog.out");
  EXPECT_EQ(run("good", {"run:exit 4"}).out, "reply 4\n");
  EXPECT_TRUE(hasLogged(
      "error", "Too many connections from user 65534 (per-user limit 16); refusing a new one"));
  EXPECT_LT(helperResidentKiB(), 64 * 1024);
  EXPECT_FALSE(helper->waitForExit(std::chrono::milliseconds(0)));
}

TEST_F(HelperTest, ADeepFrameClosesOnlyItsConnection) {
  startHelper();
  auto genuine = startGenuine(2);
  EXPECT_EQ(run("good", {"deep:200000"}).out, "no reply\n");
  EXPECT_TRUE(hasLogged("error", "the property list holds too many objects"));
  EXPECT_EQ(run("good", {"deep:300"}).out, "no reply\n");
  EXPECT_TRUE(hasLogged("error", "the property list is nested too deeply"));
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 2\n");
}

TEST(RequirementNumbers, AMalformedNumberIsACompileError) {
  auto result = runProgram({kCodesignBinary, "verify", "--requirement",
                            "certificate 99999999999 = \"x\"", kHelperTestClientBinary},
                           {});
  EXPECT_EQ(result.exitStatus, 2) << result.err;
  EXPECT_NE(result.err.find("invalid or corrupted code requirement(s)"), std::string::npos);
}

}  // namespace
}  // namespace shelvo::test
