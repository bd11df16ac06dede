#pragma once

#include "platform/clock.h"
#include "platform/interfaces.h"
#include "platform/name_resolver.h"
#include "platform/owner_source.h"
#include "platform/packet_source.h"

namespace quorvel {

// Everything the engine needs from the operating system, injected as a whole.
// The referenced objects outlive every user of the bundle.
struct Platform {
  PacketSourceFactory& packets;
  OwnerSource& owners;
  NameResolver& names;
  InterfaceLister& interfaces;
  Clock& clock;
};

}  // namespace quorvel
