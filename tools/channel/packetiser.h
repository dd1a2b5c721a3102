#pragma once
// How NAL units travel: one NAL unit per packet, or RTP as RFC 6184's
// non-interleaved mode sends them (single NAL unit packets, FU-A fragments
// for NAL units above the MTU, optionally STAP-A aggregates of small NAL
// units of one access unit). Parameter sets may go out of band: then they
// are in no packet and never lost.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::channel {

// Bytes counted on top of every packet's payload: IPv4 20, UDP 8, RTP 12.
inline constexpr std::uint64_t kHeaderBytes = 40;
// RTP header, and FU indicator plus FU header.
inline constexpr int kRtpHeaderBytes = 12;
inline constexpr int kFuHeaderBytes = 2;

struct NalInfo {
    std::uint64_t size = 0;  // NAL unit bytes, header included
    int type = 0;            // nal_unit_type
    bool startsAccessUnit = false;
};

struct Packetisation {
    bool rtp = false;
    int mtu = 1400;  // RTP: the largest RTP packet, its 12-byte header included
    bool stapA = false;
    bool parameterSetsOutOfBand = false;
};

// Why the packetisation cannot work (an MTU with no room for a fragment), or "".
std::string packetisationProblem(const Packetisation& how);

bool isParameterSet(int nalUnitType);

struct Packet {
    enum Kind { Nal, Single, FuA, StapA } kind = Nal;
    std::vector<std::size_t> nalUnits;  // indices into the NAL unit list
    int fragment = 0;                   // FU-A: 1..fragments
    int fragments = 0;
    std::uint64_t payloadBytes = 0;     // RTP payload (the NAL unit itself when one per packet)
    std::uint64_t bytesWithHeaders() const { return payloadBytes + kHeaderBytes; }
};

const char* packetKindName(Packet::Kind kind);

std::vector<Packet> packetise(const std::vector<NalInfo>& nals, const Packetisation& how);

} // namespace kestrune::channel
