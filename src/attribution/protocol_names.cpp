#include "attribution/protocol_names.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace quorvel {
namespace {

struct ProtocolEntry {
  unsigned number;
  std::string_view text;
};

// Numbers without an entry (TCP and UDP among them) use the fallback text.
constexpr std::array<ProtocolEntry, 125> kProtocols = {{
    {1, "ICMP protocol"},
    {2, "IGMP protocol"},
    {3, "GGP protocol"},
    {4, "IP in IP protocol "},
    {5, "Stream protocol"},
    {7, "UCL protocol"},
    {8, "EGP protocol"},
    {9, "IGP protocol"},
    {10, "BBN RCC Monitoring"},
    {11, "NVP-II protocol"},
    {12, "PUP protocol"},
    {13, "ARGUS protocol"},
    {14, "EMCON protocol"},
    {15, "XNET protocol"},
    {16, "CHAOS protocol"},
    {18, "MUX protocol"},
    {19, "DCN-MEAS protocol"},
    {20, "HMP protocol"},
    {21, "PRM protocol"},
    {22, "XNS-IDP protocol"},
    {23, "TRUNK-1 protocol"},
    {24, "TRUNK-2 protocol"},
    {25, "LEAF-1 protocol"},
    {26, "LEAF-2 protocol"},
    {27, "RDP protocol"},
    {28, "IRTP protocol"},
    {29, "ISO-TP4 protocol"},
    {30, "NETBLT protocol"},
    {31, "MFE-NSP protocol"},
    {32, "MERIT-INP protocol"},
    {33, "SEP protocol"},
    {34, "3PC protocol"},
    {35, "IDPR protocol"},
    {36, "XTP protocol"},
    {37, "DDP protocol"},
    {38, "IDPR-CMTP protocol"},
    {39, "TP++ protocol"},
    {40, "IL protocol"},
    {41, "SIP protocol"},
    {42, "SDRP protocol"},
    {43, "SIP-SR protocol"},
    {44, "SIP-FRAG protocol"},
    {45, "IDRP protocol"},
    {46, "RSVP protocol"},
    {47, "GRE protocol"},
    {48, "MHRP protocol"},
    {49, "BNA protocol"},
    {50, "SIPP-ESP protocol"},
    {51, "SIPP-AH protocol"},
    {52, "I-NLSP protocol"},
    {53, "SWIPE protocol"},
    {54, "NHRP protocol"},
    {58, "ICMPv6 protocol"},
    {62, "CFTP protocol"},
    {64, "SAT-EXPAK protocol"},
    {65, "KRYPTOLAN protocol"},
    {66, "RVD protocol"},
    {67, "IPPC protocol"},
    {69, "SAT-MON protocol"},
    {70, "VISA protocol"},
    {71, "IPCV protocol"},
    {72, "CPNX protocol"},
    {73, "CPHB protocol"},
    {74, "WSN protocol"},
    {75, "PVP protocol"},
    {76, "BR-SAT-MON protocol"},
    {77, "SUN-ND protocol"},
    {78, "WB-MON protocol"},
    {79, "WB-EXPAK protocol"},
    {80, "ISO-IP protocol"},
    {81, "VMTP protocol"},
    {82, "SECURE-VMTP protocol"},
    {83, "VINES protocol"},
    {84, "TTP protocol"},
    {85, "NSFNET-IGP protocol"},
    {86, "DGP protocol"},
    {87, "TCF protocol"},
    {88, "IGRP protocol"},
    {89, "OSPFIGP protocol"},
    {90, "Sprite-RPC protocol"},
    {91, "LARP protocol"},
    {92, "MTP protocol"},
    {93, "AX.25 protocol"},
    {94, "IPIP protocol"},
    {95, "MICP protocol"},
    {96, "SCC-SP protocol"},
    {97, "ETHERIP protocol"},
    {98, "ENCAP protocol"},
    {100, "GMTP protocol"},
    {101, "IFMP protocol"},
    {102, "PNNI protocol"},
    {103, "PIM protocol"},
    {104, "ARIS protocol"},
    {105, "SCPS protocol"},
    {106, "QNX protocol"},
    {107, "A/N protocol"},
    {108, "IPComp protocol"},
    {109, "SNP protocol"},
    {110, "Compaq-Peer protocol"},
    {111, "IPX-in-IP protocol"},
    {112, "VRRP protocol"},
    {113, "PGM protocol"},
    {115, "L2TP protocol"},
    {116, "DDX protocol"},
    {117, "IATP protocol"},
    {118, "STP protocol"},
    {119, "SRP protocol"},
    {120, "UTI protocol"},
    {121, "SMP protocol"},
    {122, "SM protocol"},
    {123, "PTP protocol"},
    {124, "ISIS over IPv4"},
    {125, "FIRE protocol"},
    {126, "CRTP protocol"},
    {127, "CRUDP protocol"},
    {128, "SSCOPMCE protocol"},
    {129, "IPLT protocol"},
    {130, "SPS protocol"},
    {131, "PIPE protocol"},
    {132, "SCTP protocol"},
    {133, "SFibre Channel"},
    {134, "RSVP-E2E-IGNORE"},
    {135, "Mobility Header"},
    {136, "UDPLite protocol"},
    {137, "MPLS-in-IP protocol"},
}};

}  // namespace

std::string ProtocolName(std::uint16_t protocol) {
  const auto it = std::lower_bound(
      kProtocols.begin(), kProtocols.end(), protocol,
      [](const ProtocolEntry& entry, unsigned number) { return entry.number < number; });
  if (it != kProtocols.end() && it->number == protocol) return std::string(it->text);
  char text[32];
  std::snprintf(text, sizeof text, "IP protocol #%d", static_cast<int>(protocol));
  return text;
}

}  // namespace quorvel
