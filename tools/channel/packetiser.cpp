#include "tools/channel/packetiser.h"

namespace kestrune::channel {

std::string packetisationProblem(const Packetisation& how)
{
    const int least = kRtpHeaderBytes + kFuHeaderBytes + 1;
    if (how.rtp && how.mtu < least)
        return "an MTU of " + std::to_string(how.mtu) + " bytes leaves no room for an FU-A fragment: at least "
            + std::to_string(least) + " (12 bytes of RTP header, 2 of FU indicator and header, 1 of data)";
    return {};
}

bool isParameterSet(int type) { return type == 7 || type == 8 || type == 13 || type == 15; }

const char* packetKindName(Packet::Kind kind)
{
    switch (kind) {
    case Packet::Nal: return "nal";
    case Packet::Single: return "single";
    case Packet::FuA: return "fu-a";
    case Packet::StapA: return "stap-a";
    }
    return "";
}

std::vector<Packet> packetise(const std::vector<NalInfo>& nals, const Packetisation& how)
{
    std::vector<Packet> packets;
    const std::uint64_t maxPayload = how.rtp ? static_cast<std::uint64_t>(how.mtu - kRtpHeaderBytes) : 0;
    auto sent = [&](std::size_t i) { return !(how.parameterSetsOutOfBand && isParameterSet(nals[i].type)); };
    for (std::size_t i = 0; i < nals.size(); ++i) {
        if (!sent(i)) continue;
        const std::uint64_t size = nals[i].size;
        if (!how.rtp || size <= maxPayload) {
            Packet packet{how.rtp ? Packet::Single : Packet::Nal, {i}, 0, 0, size};
            if (how.rtp && how.stapA) {
                // A STAP-A: its header byte, then a 16-bit size before each NAL
                // unit; only NAL units of one access unit share a packet.
                std::uint64_t payload = 1 + 2 + size;
                std::size_t j = i + 1;
                for (; j < nals.size() && !nals[j].startsAccessUnit; ++j) {
                    if (!sent(j)) continue;
                    if (payload + 2 + nals[j].size > maxPayload) break;
                    payload += 2 + nals[j].size;
                    packet.nalUnits.push_back(j);
                }
                if (packet.nalUnits.size() > 1) {
                    packet.kind = Packet::StapA;
                    packet.payloadBytes = payload;
                    i = packet.nalUnits.back();
                } else {
                    packet.nalUnits.resize(1);
                }
            }
            packets.push_back(std::move(packet));
            continue;
        }
        // FU-A: the NAL unit header becomes the FU indicator and header; the
        // rest is cut into pieces as large as the MTU allows, the last one smaller.
        const std::uint64_t piece = maxPayload - kFuHeaderBytes;
        const std::uint64_t data = size - 1;
        const int fragments = static_cast<int>((data + piece - 1) / piece);
        for (int f = 0; f < fragments; ++f) {
            const std::uint64_t bytes = f + 1 < fragments ? piece : data - piece * static_cast<std::uint64_t>(f);
            packets.push_back(Packet{Packet::FuA, {i}, f + 1, fragments, kFuHeaderBytes + bytes});
        }
    }
    return packets;
}

} // namespace kestrune::channel
