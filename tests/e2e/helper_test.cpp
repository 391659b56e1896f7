// ShelvoHelper as its signed client meets it: replies, refusals, idle exit and framing.
#include <gtest/gtest.h>

#include "helper/client_validation.h"
#include "tests/e2e/helper_fixture.h"
#include "tests/support/paths.h"

namespace shelvo::test {
namespace {

namespace fs = std::filesystem;

TEST_F(HelperTest, ASignedClientGetsTheExitStatusesAndTheOutputStaysInTheLog) {
  startHelper();
  auto result = run("good", {"run:echo from-the-script; exit 0", "run:exit 7"});
  EXPECT_EQ(result.out, "reply 0\nreply 7\n");
  // Within a check interval or two; the bound is generous for a busy machine.
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0)
      << "one client closing ends the helper";
  EXPECT_TRUE(hasLogged("default", "from-the-script"));
  EXPECT_TRUE(hasLogged("debug", "ShelvoHelper started"));
  EXPECT_TRUE(hasLogged("debug", "No more XPC connections, exiting..."));
}

TEST_F(HelperTest, ClientsThatFailTheCheckAreRefusedWithTheirReasons) {
  const std::pair<const char*, const char*> rows[] = {
      {"unsigned", "code object is not signed at all"},
      {"otherid", "code failed to satisfy specified code requirement(s)"},
      {"otherteam", "code failed to satisfy specified code requirement(s)"},
      {"stranger", "code failed to satisfy specified code requirement(s)"},
      {"tampered", "invalid signature (code or signature have been modified)"},
      // The team's leaf without the marker only the long requirement asks for.
      {"nomarker", "code failed to satisfy specified code requirement(s)"},
      // A leaf that may not sign code never chains as "anchor apple generic".
      {"noeku", "code failed to satisfy specified code requirement(s)"},
  };
  for (const auto& [name, reason] : rows) {
    startHelper();
    auto result = run(name, {"run:exit 0"});
    EXPECT_EQ(result.out, "no reply\n") << name;
    EXPECT_TRUE(
        hasLogged("error", std::string("NSXPC client does not meet the requirements. ") + reason))
        << name;
    EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0) << "nobody else was connected";
  }
}

// A refused client, a bad frame or one nested too deeply ends only its own connection, and the
// helper stays while any client is connected.
TEST_F(HelperTest, WhatIsRefusedEndsOnlyItsOwnConnection) {
  startHelper();
  auto genuine = startGenuine(2);
  EXPECT_EQ(run("unsigned", {"run:exit 0"}).out, "no reply\n");
  EXPECT_EQ(run("good", {"run:exit 0"}).out, "reply 0\n");
  for (const char* frame : {"oversize", "badtype", "deep:200000", "deep:300"})
    EXPECT_EQ(run("good", {frame}).out, "no reply\n") << frame;
  EXPECT_FALSE(helper->waitForExit(std::chrono::milliseconds(1300))) << "one client is left";
  EXPECT_EQ(finishGenuine(*genuine), "reply 0\nwaiting\nreply 2\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0);
  for (const char* error :
       {"a frame of a length outside 1 to 64 MiB", "the message has a missing or mistyped field",
        "the property list holds too many objects", "the property list is nested too deeply"})
    EXPECT_TRUE(hasLogged("error", error)) << error;
}

TEST_F(HelperTest, AScriptWhoseClientLeftStillRunsToItsEnd) {
  startHelper();
  auto started = logs / "started";
  auto marker = logs / "finished";
  // The client leaves once its script runs (a request is taken only while its sender lives).
  EXPECT_EQ(
      run("good", {"send:touch " + started.string() + "; sleep 1; echo done > " + marker.string(),
                   "await-file:" + started.string(), "close"})
          .out,
      "sent\nwaiting\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(readTextFile(marker), "done\n");
}

TEST_F(HelperTest, ASyntaxErrorGetsNoReplyAndEndsTheHelperWith50) {
  startHelper();
  EXPECT_EQ(run("good", {"run:if then fi {"}).out, "no reply\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 50);
  EXPECT_TRUE(hasLogged("error", "Installation information was invalid, exiting"));
}

TEST_F(HelperTest, AForkedChildCannotSendOnItsParentsConnection) {
  startHelper();
  auto marker = logs / "child-ran";
  EXPECT_EQ(run("good", {"fork-run:touch " + marker.string()}).out, "no reply\n");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(hasLogged("error", "a message came from a process other than the admitted client"));
}

TEST_F(HelperTest, SocketActivationHandsTheHelperItsListener) {
  startHelper(true);
  EXPECT_EQ(run("good", {"run:exit 5"}).out, "reply 5\n");
  EXPECT_EQ(helper->waitForExit(std::chrono::seconds(30)), 0);
}

TEST(HelperPropertyLists, AreEmbeddedAndNameTheLongRequirement) {
  auto info = runProgram({"readelf", "-p", ".shelvo.info_plist", kHelperBinary}, {});
  EXPECT_NE(info.out.find("<string>ostrel.shelvo.helper</string>"), std::string::npos);
  auto launchd = runProgram({"readelf", "-p", ".shelvo.launchd_plist", kHelperBinary}, {});
  EXPECT_NE(launchd.out.find("<key>MachServices</key>"), std::string::npos);
  auto file = readTextFile(fs::path(kSourceDir) / "packaging/helper/Info.plist");
  std::string requirement = kLongRequirement;
  EXPECT_NE(file.find("<string>" + requirement + "</string>"), std::string::npos)
      << "SMAuthorizedClients names the requirement the helper checks";
}

TEST_F(HelperTest, TheCodesignToolChecksAClientAsTheHelperWill) {
  auto verify = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {kCodesignBinary, "verify"});
    return runProgram(arguments, {{"SHELVO_ROOT", root.path().string()}});
  };
  auto good = verify({"--requirement", kLongRequirement, client("good")});
  EXPECT_EQ(good.exitStatus, 0) << good.err;
  EXPECT_NE(good.out.find("Identifier=ostrel.shelvo\n"), std::string::npos);
  EXPECT_NE(good.out.find("explicit requirement satisfied"), std::string::npos);
  // Without the helper's checks too: a tampered client, and one of another team.
  EXPECT_EQ(verify({client("tampered")}).exitStatus, 1);
  auto other = verify({"--requirement", clientRequirement(), client("otherteam")});
  EXPECT_EQ(other.exitStatus, 3);
  EXPECT_EQ(other.err, client("otherteam").string() +
                           ": code failed to satisfy specified code requirement(s)\n");
  auto bad = verify({"--requirement", "identifier com.my-app", client("good")});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_NE(bad.err.find("invalid or corrupted code requirement(s)"), std::string::npos);
  EXPECT_NE(runProgram({kCodesignBinary, "sign", client("good").string()}, {}).exitStatus, 0)
      << "signing needs an identity";
  fs::path plain = logs / "plain";
  fs::copy_file(client("good"), plain);
  fs::copy_file(client("good").string() + ".sig", plain.string() + ".sig");
  fs::permissions(plain, fs::perms(0755));
  fs::path groupWritable = logs / "group-writable";
  makeClient(groupWritable, "ostrel.shelvo", "leaf", "intermediate");
  fs::permissions(groupWritable.string() + ".sig", fs::perms(0664));
  const struct {
    fs::path client;
    int status;
    std::string said;  // on standard error, or the last line on standard output
  } rows[] = {
      {client("good"), 0, "ShelvoHelper would admit it, started as installed"},
      {client("unsigned"), 1, "code object is not signed at all"},
      {client("tampered"), 1, "invalid signature (code or signature have been modified)"},
      {client("otherid"), 3,
       "code failed to satisfy specified code requirement(s): the client requirement fails at "
       "identifier \"ostrel.shelvo\""},
      {client("otherteam"), 3,
       "code failed to satisfy specified code requirement(s): the client requirement fails at "
       "certificate leaf[subject.OU] = \"QZ7R2TW9LM\""},
      {client("nomarker"), 3,
       "code failed to satisfy specified code requirement(s): the helper's requirement fails at "
       "(certificate leaf[field.1.2.840.113635.100.6.1.9] exists or ((certificate "
       "1[field.1.2.840.113635.100.6.2.6] exists and certificate "
       "leaf[field.1.2.840.113635.100.6.1.13] exists) and certificate leaf[subject.OU] = "
       "\"QZ7R2TW9LM\"))"},
      {plain, 4,
       "neither setuid nor setgid: it would not start in secure-execution mode, undumpable"},
      {groupWritable, 4,
       groupWritable.string() + ".sig is not owned by root or is writable by others"},
  };
  for (const auto& row : rows) {
    auto result = verify({"--helper-requirement", row.client});
    EXPECT_EQ(result.exitStatus, row.status) << row.client << result.err;
    std::string said = row.status == 0 ? result.out : result.err;
    EXPECT_TRUE(said.ends_with(row.client.string() + ": " + row.said + "\n"))
        << row.client << ": " << said;
  }
}

}  // namespace
}  // namespace shelvo::test
