#include "smtp/reply_judgement.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvik {

namespace {

constexpr SmtpOptions kNoOverrides{};
constexpr SmtpOptions kDialUpTemporary{SmtpOptions::kDialUpListTemporary};
constexpr SmtpOptions kMailTemporary{SmtpOptions::kMailRefusalTemporary};
constexpr SmtpOptions kRcptTemporary{SmtpOptions::kRcptRefusalTemporary};

CapabilityList withEnhancedCodes() {
  CapabilityList capabilities;
  capabilities.append("ENHANCEDSTATUSCODES");
  return capabilities;
}

struct JudgeCase {
  ReplyKind kind;
  const char* line;
  SmtpOptions options;
  bool enhancedAnnounced;
  ResultCode result;
  const char* enhanced;
};

std::string describe(const JudgeCase& c) {
  return "kind " + std::to_string(static_cast<int>(c.kind)) + " \"" + c.line + "\"" +
         (c.enhancedAnnounced ? " with ENHANCEDSTATUSCODES" : "") + " options " + std::to_string(c.options.bits);
}

void expectJudged(const JudgeCase& c) {
  const CapabilityList capabilities = c.enhancedAnnounced ? withEnhancedCodes() : CapabilityList{};
  SharedString enhanced = "untouched";
  EXPECT_EQ(judgeReply(capabilities, c.kind, c.line, enhanced, c.options), c.result) << describe(c);
  EXPECT_EQ(enhanced.toStdString(), c.enhanced) << describe(c);
}

TEST(JudgeReply, AcceptsEveryReplyBelowFourHundredAndKeepsTheEnhancedCode) {
  const JudgeCase cases[] = {
      {ReplyKind::kGeneric, "220 ready", kNoOverrides, true, ResultCode::kOk, "untouched"},
      {ReplyKind::kMailFrom, "250 2.1.0 ok", kNoOverrides, true, ResultCode::kOk, "untouched"},
      {ReplyKind::kMessageData, "354 go ahead", kNoOverrides, false, ResultCode::kOk, "untouched"},
      {ReplyKind::kConnection, "199 odd but positive", kNoOverrides, false, ResultCode::kOk, "untouched"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, AssignsEachKindsOwnDefaultsBeforeTheSharedOnes) {
  const JudgeCase cases[] = {
      // Kind 2 has its own 421 and 452, so 452 is "4.3.2" there only.
      {ReplyKind::kConnection, "421 closing", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.2"},
      {ReplyKind::kConnection, "452 no room", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.2"},
      {ReplyKind::kGeneric, "452 no room", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.1"},
      {ReplyKind::kMailFrom, "505 auth", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.4"},
      {ReplyKind::kMailFrom, "530 auth", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.0"},
      {ReplyKind::kMailFrom, "550 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.8"},
      {ReplyKind::kMailFrom, "552 too big", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.3.4"},
      {ReplyKind::kRcptTo, "450 busy", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.2.2"},
      {ReplyKind::kRcptTo, "505 auth", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.4"},
      {ReplyKind::kRcptTo, "521 no mail", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.3.3"},
      {ReplyKind::kRcptTo, "525 disabled", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.13"},
      {ReplyKind::kRcptTo, "530 auth", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.0"},
      {ReplyKind::kRcptTo, "550 unknown", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "551 not local", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "552 full", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.2.2"},
      {ReplyKind::kRcptTo, "553 bad name", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "554 failed", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.2.1"},
      {ReplyKind::kMessageData, "550 policy", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.1"},
      {ReplyKind::kMessageData, "552 full", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.2.2"},
      {ReplyKind::kMessageData, "554 failed", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.2.1"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, FallsBackToTheSharedEntriesAndThenToTheKindsFallbacks) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "421 closing", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.2"},
      {ReplyKind::kMailFrom, "451 later", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.0"},
      {ReplyKind::kGeneric, "500 what", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.5.1"},
      {ReplyKind::kConnection, "501 syntax", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.5.2"},
      {ReplyKind::kMailFrom, "503 order", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.5.0"},
      {ReplyKind::kGeneric, "454 no tls", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.5.0"},
      {ReplyKind::kGeneric, "554 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.5.0"},
      {ReplyKind::kConnection, "454 no", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.4.0"},
      {ReplyKind::kConnection, "554 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.4.0"},
      {ReplyKind::kSecurityPolicy, "454 no", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.7.1"},
      {ReplyKind::kSecurityPolicy, "554 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.7.1"},
      {ReplyKind::kMailFrom, "454 no", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.1.7"},
      {ReplyKind::kMailFrom, "554 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.7"},
      {ReplyKind::kRcptTo, "454 no", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.1.3"},
      {ReplyKind::kRcptTo, "559 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.3"},
      {ReplyKind::kMessageData, "454 no", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.5.0"},
      {ReplyKind::kMessageData, "559 no", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.5.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, UsesTheCarriedCodeOnlyWhenEnhancedStatusCodesWereAnnounced) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "550 5.1.1 no such user", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kMailFrom, "550 5.7.1 go away", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.7.1"},
      {ReplyKind::kMailFrom, "550 5.7.1 go away", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.8"},
      {ReplyKind::kRcptTo, "452 4.3.1 full", kNoOverrides, true, ResultCode::kTemporaryRefusal, "4.3.1"},
      // The greeting and EHLO are judged while the list is still empty.
      {ReplyKind::kConnection, "452 4.3.1 full", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.2"},
      // The carried code decides nothing about the result; the reply code does.
      {ReplyKind::kRcptTo, "550 4.2.0 odd", kNoOverrides, true, ResultCode::kPermanentRefusal, "4.2.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, ReportsGenericRecipientCodesAsBadMailbox) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "553 5.3.0 no", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "550 5.0.0 no", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "554 5.0.0 no", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.0.0"},
      {ReplyKind::kMailFrom, "550 5.0.0 no", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.0.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, ReturnsTheSpecialResultForReply590) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "590 odd", kNoOverrides, false, ResultCode::kSmtpReply590, "5.5.4"},
      {ReplyKind::kGeneric, "590 odd", kNoOverrides, false, ResultCode::kSmtpReply590, "5.5.4"},
      // The recipient override comes first.
      {ReplyKind::kRcptTo, "590 odd", kRcptTemporary, false, ResultCode::kTemporaryRefusal, "4.3.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, TurnsPermanentRefusalsTemporaryOnlyForTheCommandTheOptionNames) {
  const JudgeCase cases[] = {
      {ReplyKind::kMailFrom, "550 no", kMailTemporary, false, ResultCode::kTemporaryRefusal, "4.3.0"},
      {ReplyKind::kRcptTo, "550 no", kMailTemporary, false, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "550 5.1.1 no", kRcptTemporary, true, ResultCode::kTemporaryRefusal, "4.3.0"},
      {ReplyKind::kMailFrom, "550 no", kRcptTemporary, false, ResultCode::kPermanentRefusal, "5.1.8"},
      {ReplyKind::kRcptTo, "451 later", kRcptTemporary, false, ResultCode::kTemporaryRefusal, "4.3.0"},
      {ReplyKind::kRcptTo, "451 later", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, TreatsDialUpListRefusalsAsTemporaryOnlyWithTheOption) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "550 blocked, see maps dul", kDialUpTemporary, false, ResultCode::kTemporaryRefusal,
       "4.3.0"},
      {ReplyKind::kMailFrom, "554 5.7.1 listed in MAPS DUL", kDialUpTemporary, true, ResultCode::kTemporaryRefusal,
       "4.3.0"},
      {ReplyKind::kConnection, "554 please use your ISPs mail server", kDialUpTemporary, false,
       ResultCode::kTemporaryRefusal, "4.3.0"},
      // The match is case-sensitive.
      {ReplyKind::kRcptTo, "550 listed in Maps Dul", kDialUpTemporary, false, ResultCode::kPermanentRefusal, "5.1.1"},
      {ReplyKind::kRcptTo, "550 blocked, see maps dul", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.1.1"},
      // Temporary refusals are not looked at.
      {ReplyKind::kRcptTo, "450 see maps dul", kDialUpTemporary, false, ResultCode::kTemporaryRefusal, "4.2.2"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, RecognisesTheKnownRefusalTexts) {
  const JudgeCase cases[] = {
      {ReplyKind::kRcptTo, "551 the CHAINLETTER is a hoax. Stop it", kNoOverrides, false, ResultCode::kPermanentRefusal,
       "5.7.0"},
      {ReplyKind::kRcptTo, "551 5.1.6 moved", kNoOverrides, true, ResultCode::kPermanentRefusal, "5.1.6"},
      {ReplyKind::kMessageData, "554 delivery error: dd User is over the quota. Try later", kNoOverrides, false,
       ResultCode::kPermanentRefusal, "5.2.2"},
      {ReplyKind::kMessageData, "554 rejected", kNoOverrides, false, ResultCode::kPermanentRefusal, "5.2.1"},
      {ReplyKind::kMessageData, "451 local error", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.3.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

TEST(JudgeReply, NeverTakesEightBitTextForAnAcceptance) {
  const JudgeCase cases[] = {
      {ReplyKind::kGeneric, "\xC3\xA9t\xC3\xA9", kNoOverrides, false, ResultCode::kTemporaryRefusal, "4.5.0"},
  };
  for (const JudgeCase& c : cases) expectJudged(c);
}

}  // namespace

}  // namespace zarvik
