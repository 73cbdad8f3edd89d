#include "update/installer_trust.h"

#include <gtest/gtest.h>

#include <string>

namespace trv {
namespace {

constexpr char kKeyHex[] = "3f1a0c9be2d4478a5566778899aabbccddeeff00112233445566778899aabb01";
constexpr char kCertHex[] = "00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff";

Sha256Digest Digest(const std::string& hex) {
    PinList pins;
    EXPECT_TRUE(ParsePins(hex, pins)) << hex;
    return pins.empty() ? Sha256Digest{} : pins.front();
}

// The build rejects a bad pin setting through the same rule.
static_assert(PinTextWellFormed(""));
static_assert(PinTextWellFormed(" ;, "));
static_assert(PinTextWellFormed(kKeyHex));
static_assert(!PinTextWellFormed("3f1a"));
static_assert(!PinTextWellFormed("sha256:3f1a0c9be2d4478a5566778899aabbccddeeff00112233445566778899aabb01"));

TEST(InstallerPins, ParsesEverySeparatorAndEitherCase) {
    const std::string a = kKeyHex, b = kCertHex;
    for (const std::string& text : {a + ";" + b, a + "," + b, a + " " + b, a + "\t" + b,
                                    " ; " + a + " ;, " + b + " ;\n", a + ";;" + b + ";"}) {
        PinList pins;
        std::string error = "untouched";
        ASSERT_TRUE(ParsePins(text, pins, &error)) << text;
        EXPECT_EQ(error, "untouched");
        ASSERT_EQ(pins.size(), 2u) << text;
        EXPECT_EQ(DigestHex(pins[0]), a);
        // Upper-case digits give the same bytes as lower case.
        EXPECT_EQ(DigestHex(pins[1]), "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
        EXPECT_TRUE(PinTextWellFormed(text.c_str())) << text;
    }
    EXPECT_EQ(Digest(kKeyHex)[0], 0x3f);
    EXPECT_EQ(Digest(kKeyHex)[31], 0x01);
}

TEST(InstallerPins, EmptyOrBlankTextIsNoPins) {
    for (const char* text : {"", " ", ";,;", "\t\n"}) {
        PinList pins{Sha256Digest{}};
        EXPECT_TRUE(ParsePins(text, pins)) << text;
        EXPECT_TRUE(pins.empty()) << text;
    }
}

TEST(InstallerPins, RejectsAnyBadEntryAndKeepsNone) {
    const std::string good = kKeyHex;
    const std::string cases[] = {
        good.substr(1),                        // 63 digits
        good + "0",                            // 65 digits
        good.substr(0, 63) + "g",              // not hex
        "0x" + good.substr(2),                 // prefix
        "3F:1A:0C:9B:E2:D4:47:8A:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:01",
        std::string(64, 'a') + ";" + "abc",    // a good entry does not save a bad one
        good + "\xEA\xB0\x80",                 // non-ASCII glued to a hash
        std::string("ab\0cd", 5),              // NUL inside
    };
    for (const std::string& text : cases) {
        PinList pins{Sha256Digest{}};
        std::string error;
        EXPECT_FALSE(ParsePins(text, pins, &error)) << text;
        EXPECT_TRUE(pins.empty()) << text;
        EXPECT_NE(error.find("not a SHA-256 hex hash"), std::string::npos) << error;
        if (text.find('\0') == std::string::npos) {
            EXPECT_FALSE(PinTextWellFormed(text.c_str())) << text;
        }
    }
    std::string error;
    PinList pins;
    EXPECT_FALSE(ParsePins(good + ";abc", pins, &error));
    EXPECT_EQ(error, "not a SHA-256 hex hash: \"abc\"");
}

TEST(InstallerPins, SignerMatchesByKeyOrCertificateOnly) {
    const Sha256Digest key = Digest(kKeyHex);
    const Sha256Digest cert = Digest(kCertHex);
    Sha256Digest other = key;
    other[31] ^= 0x01;  // one bit off in the last byte

    EXPECT_TRUE(SignerPinned({key}, key, cert));
    EXPECT_TRUE(SignerPinned({cert}, key, cert));
    EXPECT_TRUE(SignerPinned({other, cert}, key, cert));  // a prepared rollover pin does not get in the way
    EXPECT_FALSE(SignerPinned({other}, key, cert));
    EXPECT_FALSE(SignerPinned({key}, other, cert));
    EXPECT_FALSE(SignerPinned({}, key, cert));
}

TEST(InstallerTrustDecision, OnlyOkRunsTheInstaller) {
    const TrustDecision ok = DecisionFor(TrustOutcome::Ok);
    EXPECT_TRUE(ok.runInstaller);
    EXPECT_FALSE(ok.showMessage);
    EXPECT_FALSE(ok.removeFile);
    EXPECT_EQ(ok.endCode, 0);

    for (TrustOutcome refused :
         {TrustOutcome::Unsigned, TrustOutcome::Tampered, TrustOutcome::UntrustedChain,
          TrustOutcome::PolicyFailure, TrustOutcome::NotCodeSigning, TrustOutcome::NotPinned,
          TrustOutcome::NoPinsConfigured, TrustOutcome::CannotReadFile}) {
        const TrustDecision d = DecisionFor(refused);
        EXPECT_FALSE(d.runInstaller) << TrustOutcomeName(refused);
        EXPECT_TRUE(d.showMessage) << TrustOutcomeName(refused);
        EXPECT_TRUE(d.removeFile) << TrustOutcomeName(refused);
        EXPECT_EQ(d.endCode, 2) << TrustOutcomeName(refused);
    }
    EXPECT_EQ(std::wstring(kInstallerUntrustedMessage), L"설치 파일의 서명을 확인할 수 없습니다!   ");
}

TEST(InstallerTrustDecision, VerifierErrorCodes) {
    EXPECT_EQ(OutcomeForTrustError(0), TrustOutcome::Ok);
    EXPECT_EQ(OutcomeForTrustError(0x800B0100u), TrustOutcome::Unsigned);        // no signature
    EXPECT_EQ(OutcomeForTrustError(0x800B0003u), TrustOutcome::Unsigned);        // not a PE file
    EXPECT_EQ(OutcomeForTrustError(0x80096010u), TrustOutcome::Tampered);        // bad digest
    EXPECT_EQ(OutcomeForTrustError(0x80096004u), TrustOutcome::Tampered);        // bad signature
    EXPECT_EQ(OutcomeForTrustError(0x8009310Bu), TrustOutcome::Tampered);        // undecodable block
    EXPECT_EQ(OutcomeForTrustError(0x800B0109u), TrustOutcome::UntrustedChain);  // untrusted root
    EXPECT_EQ(OutcomeForTrustError(0x800B010Au), TrustOutcome::UntrustedChain);  // broken chain
    EXPECT_EQ(OutcomeForTrustError(0x800B0101u), TrustOutcome::UntrustedChain);  // expired
    EXPECT_EQ(OutcomeForTrustError(0x800B0110u), TrustOutcome::NotCodeSigning);  // wrong usage
    EXPECT_EQ(OutcomeForTrustError(0x80070002u), TrustOutcome::CannotReadFile);
    // Anything not known here still refuses.
    EXPECT_EQ(OutcomeForTrustError(0x800B0004u), TrustOutcome::PolicyFailure);
    EXPECT_EQ(OutcomeForTrustError(1u), TrustOutcome::PolicyFailure);
    EXPECT_EQ(OutcomeForTrustError(0xFFFFFFFFu), TrustOutcome::PolicyFailure);
}

TEST(InstallerTrustDecision, DamagedSignatureBlockRangeEndsExactly) {
    const struct {
        std::uint32_t code;
        TrustOutcome outcome;
    } cases[] = {
        {0x80092FFFu, TrustOutcome::PolicyFailure},
        {0x80093000u, TrustOutcome::Tampered},
        {0x800931FFu, TrustOutcome::Tampered},
        {0x80093200u, TrustOutcome::PolicyFailure},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OutcomeForTrustError(c.code), c.outcome) << std::hex << c.code;
}

class DecideTrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        facts = SignatureFacts{};
        facts.fileReadable = true;
        facts.haveSigner = true;
        facts.policyRan = true;
        facts.codeSigningUsage = true;
        facts.hashesKnown = true;
        facts.keyHash = Digest(kKeyHex);
        facts.certHash = Digest(kCertHex);
        pins = {facts.keyHash};
    }
    TrustOutcome Decide() const { return DecideTrust(pins, facts); }

    SignatureFacts facts;
    PinList pins;
};

TEST_F(DecideTrustTest, AGoodPinnedSignatureIsOk) {
    EXPECT_EQ(Decide(), TrustOutcome::Ok);
    pins = {facts.certHash};
    EXPECT_EQ(Decide(), TrustOutcome::Ok);
    // Revocation cannot be checked offline; that alone refuses nothing.
    facts.chainErrorStatus = kChainRevocationUnknown | kChainOfflineRevocation;
    EXPECT_EQ(Decide(), TrustOutcome::Ok);
}

TEST_F(DecideTrustTest, EachFailedRequirementHasItsOutcome) {
    struct Case {
        const char* what;
        void (*spoil)(SignatureFacts&);
        TrustOutcome expected;
    };
    const Case cases[] = {
        {"unreadable", [](SignatureFacts& f) { f.fileReadable = false; }, TrustOutcome::CannotReadFile},
        {"unsigned", [](SignatureFacts& f) { f.verifyResult = 0x800B0100u; }, TrustOutcome::Unsigned},
        {"tampered", [](SignatureFacts& f) { f.verifyResult = 0x80096010u; }, TrustOutcome::Tampered},
        {"no signer", [](SignatureFacts& f) { f.haveSigner = false; }, TrustOutcome::Unsigned},
        // What Wine lets through: the verifier says 0, the chain does not.
        {"untrusted root", [](SignatureFacts& f) { f.chainErrorStatus = 0x20; }, TrustOutcome::UntrustedChain},
        {"partial chain", [](SignatureFacts& f) { f.chainErrorStatus = 0x10000; }, TrustOutcome::UntrustedChain},
        {"expired and offline", [](SignatureFacts& f) { f.chainErrorStatus = 0x1 | kChainOfflineRevocation; },
         TrustOutcome::UntrustedChain},
        {"usage in chain", [](SignatureFacts& f) { f.chainErrorStatus = kChainNotValidForUsage; },
         TrustOutcome::NotCodeSigning},
        {"usage and root", [](SignatureFacts& f) { f.chainErrorStatus = kChainNotValidForUsage | 0x20; },
         TrustOutcome::UntrustedChain},
        {"policy did not run", [](SignatureFacts& f) { f.policyRan = false; }, TrustOutcome::PolicyFailure},
        {"policy refused", [](SignatureFacts& f) { f.policyError = 0x800B0004u; }, TrustOutcome::PolicyFailure},
        {"policy root", [](SignatureFacts& f) { f.policyError = 0x800B0109u; }, TrustOutcome::UntrustedChain},
        {"policy usage", [](SignatureFacts& f) { f.policyError = 0x800B0110u; }, TrustOutcome::NotCodeSigning},
        {"no code signing", [](SignatureFacts& f) { f.codeSigningUsage = false; }, TrustOutcome::NotCodeSigning},
        {"no hashes", [](SignatureFacts& f) { f.hashesKnown = false; }, TrustOutcome::PolicyFailure},
        {"other key", [](SignatureFacts& f) { f.keyHash[0] ^= 0x80; }, TrustOutcome::NotPinned},
    };
    for (const Case& c : cases) {
        SetUp();
        c.spoil(facts);
        EXPECT_EQ(Decide(), c.expected) << c.what << ": got " << TrustOutcomeName(Decide());
    }
}

TEST_F(DecideTrustTest, NoPinsRefusesEvenAPerfectSignature) {
    pins.clear();
    EXPECT_EQ(Decide(), TrustOutcome::NoPinsConfigured);
    facts.fileReadable = false;
    EXPECT_EQ(Decide(), TrustOutcome::NoPinsConfigured);
}

TEST_F(DecideTrustTest, TheEarliestFailureNamesTheOutcome) {
    // A file that is both unsigned-looking and unpinned reports the first.
    facts.verifyResult = 0x80096010u;
    facts.chainErrorStatus = 0x20;
    facts.codeSigningUsage = false;
    facts.keyHash = Sha256Digest{};
    EXPECT_EQ(Decide(), TrustOutcome::Tampered);
    facts.verifyResult = 0;
    EXPECT_EQ(Decide(), TrustOutcome::UntrustedChain);
    facts.chainErrorStatus = 0;
    EXPECT_EQ(Decide(), TrustOutcome::NotCodeSigning);
    facts.codeSigningUsage = true;
    EXPECT_EQ(Decide(), TrustOutcome::NotPinned);
}

}  // namespace
}  // namespace trv
