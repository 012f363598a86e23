#include "tls/peer_verification.h"

#include "tls/certificate_names.h"
#include "tls/chain_check.h"
#include "tls/cipher_strength.h"
#include "tls/dane.h"

namespace zarvik {

namespace {

// What judgeForReport() checks and tolerates.
constexpr TlsPolicy kReportPolicy{CheckMask::kCertificate | CheckMask::kTrust, 0xFFF};

void judgeName(const X509* leaf, const SharedString& hostName, Verdict& v) {
  bool matched = false;
  for (const SharedString& name : certificateNames(leaf))
    matched = matched || hostMatches(hostName.view(), name.view());
  v.low |= matched ? Verdict::kCn : Verdict::kCnMismatch;
}

void judgeCipherAndProtocol(const NegotiatedTls& negotiated, Verdict& v) {
  const bool high = negotiated.highCipherIds != nullptr && !negotiated.highCipherIds->empty()
                        ? isHighStrengthCipher(negotiated.cipher, *negotiated.highCipherIds)
                        : isHighStrengthCipher(negotiated.cipher, negotiated.context);
  if (high) {
    v.high |= Verdict::kStrongCipher;
  } else {
    v.low |= Verdict::kWeakCipher;
  }
  if (hasForwardSecrecy(negotiated.cipher)) {
    v.high |= Verdict::kPfs;
  } else {
    v.low |= Verdict::kPfsMissing;
  }
  if (negotiated.protocolVersion == 0 || isWeakProtocolVersion(negotiated.protocolVersion)) {
    v.low |= Verdict::kWeakProtocol;
  } else {
    v.high |= Verdict::kStrongProtocol;
  }
}

// Sets the violation bit when the finding is there and not tolerated.
void violateUnless(Verdict& v, bool found, std::uint32_t tolerance, const TlsPolicy& policy) {
  if (found && (policy.toleranceMask & tolerance) == 0) v.low |= Verdict::kViolation;
}

}  // namespace

Verdict verifyPeer(const PeerCertificates& peer, const NegotiatedTls& negotiated, const TlsTarget& target,
                   const TlsConfig& config, std::time_t now) {
  const TlsPolicy& policy = config.policy;
  Verdict v;
  judgeName(peer.leaf, target.hostName, v);
  violateUnless(v, v.hasLow(Verdict::kCnMismatch), Tolerance::kCnMismatch, policy);
  judgeCipherAndProtocol(negotiated, v);
  violateUnless(v, v.hasLow(Verdict::kWeakCipher), Tolerance::kWeakCipher, policy);
  violateUnless(v, v.hasLow(Verdict::kPfsMissing), Tolerance::kPfsMissing, policy);
  violateUnless(v, v.hasLow(Verdict::kWeakProtocol), Tolerance::kWeakProtocol, policy);

  // DANE takes the place of the chain check when the host has a record it
  // can use (RFC 7672 section 2.2); daneUsable() marks why it has none.
  if ((policy.checkMask & CheckMask::kDane) != 0 && daneUsable(target.tlsaLines, v)) {
    static_cast<void>(daneCheck(peer, target.tlsaLines, config.workFolder, policy, now, v));
  } else {
    static_cast<void>(runChainCheck(peer, policy, now, v));
  }
  violateUnless(v, v.hasLow(Verdict::kWeakKey), Tolerance::kWeakKey, policy);
  violateUnless(v, v.hasHigh(Verdict::kWeakAlgorithm), Tolerance::kWeakAlgorithm, policy);
  return v;
}

Verdict judgeForReport(const PeerCertificates& peer, const NegotiatedTls& negotiated, const SharedString& hostName,
                       std::time_t now) {
  Verdict v;
  judgeName(peer.leaf, hostName, v);
  judgeCipherAndProtocol(negotiated, v);
  static_cast<void>(runChainCheck(peer, kReportPolicy, now, v));
  return v;
}

}  // namespace zarvik
