#include "lan_announcer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "token_bucket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mswsock.h>
using SocketHandle = SOCKET;
namespace {
const SocketHandle kNoSocket = INVALID_SOCKET;
void CloseSocket(SocketHandle s) { closesocket(s); }
// Winsock counts its users; each announcer is one.
bool SocketsUp() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void SocketsDown() { WSACleanup(); }
}  // namespace
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
namespace {
const SocketHandle kNoSocket = -1;
void CloseSocket(SocketHandle s) { close(s); }
bool SocketsUp() { return true; }
void SocketsDown() {}
}  // namespace
#endif

namespace p2sp {

namespace {

uint64_t RandomInstance() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

// Dotted IPv4 text only; inet_addr is the one reader every Windows has.
bool ToAddress(const std::string& text, in_addr* out) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  const unsigned long value = inet_addr(text.c_str());
  if (value == INADDR_NONE && text != "255.255.255.255") return false;
  out->s_addr = static_cast<decltype(out->s_addr)>(value);
  return true;
}

std::string AddressText(const in_addr& address) {
  const unsigned long host = ntohl(address.s_addr);
  return std::to_string((host >> 24) & 255) + "." + std::to_string((host >> 16) & 255) + "." +
         std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

SocketHandle Handle(intptr_t s) { return static_cast<SocketHandle>(s); }

// Announces handled a second at most; past that they wait in the socket's
// buffer, and a flood overflows it there, which costs this process nothing.
// A network of a hundred players with a few files each stays well below.
const uint64_t kHeardPerSecond = 50;
const uint64_t kHeardBurst = 100;
// Interfaces come and go (a laptop moves, a lease changes): read them again
// after this long.
const uint64_t kNetsMs = 60000;

// The IPv4 networks of this machine's interfaces. When sharing is bound to
// an address no interface reports, that address alone (loopback: its /8).
std::vector<LocalNet> LocalNets(uint32_t bound) {
  std::vector<LocalNet> nets;
#ifdef _WIN32
  std::vector<unsigned char> buffer;
  ULONG size = 16384;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == NO_ERROR) {
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
      for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
        if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
        LocalNet net;
        net.address = ntohl(reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
        const unsigned prefix = std::min<unsigned>(u->OnLinkPrefixLength, 32);
        net.mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
        net.index = a->IfIndex;
        nets.push_back(net);
      }
    }
  }
#else
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || !i->ifa_netmask || i->ifa_addr->sa_family != AF_INET) continue;
      LocalNet net;
      net.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
      net.mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
      net.index = if_nametoindex(i->ifa_name);
      nets.push_back(net);
    }
    freeifaddrs(list);
  }
#endif
  if (bound != 0 && std::none_of(nets.begin(), nets.end(), [bound](const LocalNet& n) {
        return (bound & n.mask) == (n.address & n.mask);
      })) {
    nets.push_back({bound, (bound >> 24) == 127 ? 0xFF000000u : 0xFFFFFFFFu, 0});
  }
  return nets;
}

struct Datagram {
  char data[256];
  long size = 0;
  sockaddr_in from{};
  bool toKnown = false;  // where it was sent, when the system says
  in_addr to{};
  unsigned index = 0;  // the interface it came in on; 0: unknown
};

#ifdef _WIN32
using ReceiveFunction = LPFN_WSARECVMSG;
ReceiveFunction FindReceive(SocketHandle s) {
  GUID guid = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG function = nullptr;
  DWORD bytes = 0;
  if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof(guid), &function, sizeof(function), &bytes,
               nullptr, nullptr) != 0)
    return nullptr;
  return function;
}

bool Receive(SocketHandle s, ReceiveFunction receive, Datagram* d) {
  int fromSize = sizeof(d->from);
  if (!receive) {
    d->size = recvfrom(s, d->data, sizeof(d->data), 0, reinterpret_cast<sockaddr*>(&d->from), &fromSize);
    return d->size > 0;
  }
  WSABUF buffer{static_cast<ULONG>(sizeof(d->data)), d->data};
  char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(&d->from);
  message.namelen = fromSize;
  message.lpBuffers = &buffer;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof(control);
  DWORD got = 0;
  if (receive(s, &message, &got, nullptr, nullptr) != 0 || got == 0) return false;
  d->size = static_cast<long>(got);
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    IN_PKTINFO info;
    std::memcpy(&info, WSA_CMSG_DATA(c), sizeof(info));
    d->toKnown = true;
    d->to = info.ipi_addr;
    d->index = info.ipi_ifindex;
  }
  return true;
}
#else
using ReceiveFunction = void*;
ReceiveFunction FindReceive(SocketHandle) { return nullptr; }

bool Receive(SocketHandle s, ReceiveFunction, Datagram* d) {
  iovec part{d->data, sizeof(d->data)};
#ifdef IP_PKTINFO
  char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
#else
  char control[1] = {};
#endif
  msghdr message{};
  message.msg_name = &d->from;
  message.msg_namelen = sizeof(d->from);
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const auto got = recvmsg(s, &message, 0);
  if (got <= 0) return false;
  d->size = static_cast<long>(got);
#ifdef IP_PKTINFO
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof(info));
    d->toKnown = true;
    d->to = info.ipi_addr;
    d->index = static_cast<unsigned>(info.ipi_ifindex);
  }
#endif
  return true;
}
#endif

}  // namespace

uint64_t SteadyMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

LanAnnouncer::LanAnnouncer(const Options& options, PeerFound found)
    : m_options(options), m_found(std::move(found)), m_book(options.sharePort, RandomInstance(), options.speaks) {}

LanAnnouncer::~LanAnnouncer() { Stop(); }

bool LanAnnouncer::Start() {
  if (m_thread.joinable()) return true;
  in_addr group{}, iface{};
  if (!ToAddress(m_options.group, &group)) return false;
  const bool chosenInterface = ToAddress(m_options.interfaceAddress, &iface);
  if (!chosenInterface) iface.s_addr = htonl(INADDR_ANY);
  if (!SocketsUp()) return false;

  SocketHandle s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  bool ok = s != kNoSocket;
  // Several processes on one machine listen on the same port.
  int on = 1;
  ok = ok && setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on)) == 0;
  // Only datagrams sent to the group are announces. Bound to the group, the
  // system hands us nothing else; Windows does not allow that, and there the
  // destination each datagram carries (IP_PKTINFO) is checked instead.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(m_options.udpPort);
#ifdef _WIN32
  local.sin_addr.s_addr = htonl(INADDR_ANY);
#else
  local.sin_addr = group;
#endif
#ifdef IP_MULTICAST_ALL
  // Linux would otherwise also hand us the group's datagrams from interfaces
  // that other programs joined.
  const int all = 0;
  ok = ok && setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, reinterpret_cast<const char*>(&all), sizeof(all)) == 0;
#endif
#ifdef IP_PKTINFO
  // Where each datagram was sent and which interface heard it; without it,
  // the bind above still keeps unicast out where the system allows.
  setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof(on));
#endif
  ok = ok && bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
  ip_mreq join{};
  join.imr_multiaddr = group;
  join.imr_interface = iface;
  ok = ok && setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&join), sizeof(join)) == 0;
  if (ok && chosenInterface) {
    ok = setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&iface), sizeof(iface)) == 0;
  }
  // Neighbours on the same machine hear us too; our own echo is told apart
  // by the instance number. One hop: announces stay on the local network.
  const int loop = 1, hops = 1;
  ok = ok && setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop), sizeof(loop)) == 0;
  ok = ok && setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&hops), sizeof(hops)) == 0;
  if (!ok) {
    if (s != kNoSocket) CloseSocket(s);
    SocketsDown();
    return false;
  }
  m_socket = static_cast<intptr_t>(s);
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void LanAnnouncer::Stop() {
  if (!m_thread.joinable()) return;
  m_stop = true;
  m_thread.join();
  CloseSocket(Handle(m_socket));
  m_socket = -1;
  SocketsDown();
}

void LanAnnouncer::Set(const std::string& sha256, bool wanted, bool sharing) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_book.Set(sha256, wanted, sharing, SteadyMs());
}

void LanAnnouncer::Run() {
  const SocketHandle s = Handle(m_socket);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(m_options.udpPort);
  ToAddress(m_options.group, &to.sin_addr);
  in_addr bound{};
  const uint32_t boundHost = ToAddress(m_options.interfaceAddress, &bound) ? ntohl(bound.s_addr) : 0;
  const ReceiveFunction receive = FindReceive(s);
  std::vector<LocalNet> nets;
  uint64_t netsRead = 0;
  bool haveNets = false;
  TokenBucket allowance(kHeardPerSecond, kHeardBurst, SteadyMs());
  // A short wait keeps Set and Stop prompt without a second wake-up channel.
  const uint64_t kWaitMs = 100;
  while (!m_stop) {
    std::vector<std::string> due;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      due = m_book.TakeDue(SteadyMs());
    }
    for (const std::string& datagram : due) {
      sendto(s, datagram.data(), static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof(to));
    }

    const uint64_t owed = allowance.WaitMs(SteadyMs());
    if (owed > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(owed, kWaitMs)));
      continue;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{0, static_cast<long>(kWaitMs * 1000)};
    if (select(static_cast<int>(s) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
    Datagram d;
    if (!Receive(s, receive, &d)) continue;
    const uint64_t now = SteadyMs();
    allowance.Take(1, now);
    if (d.toKnown && d.to.s_addr != to.sin_addr.s_addr) continue;
    PeerAnnounce heard;
    if (!ParseAnnounce(d.data, static_cast<size_t>(d.size), &heard)) continue;
    if (!haveNets || now - netsRead >= kNetsMs) {
      nets = LocalNets(boundHost);
      netsRead = now;
      haveNets = true;
    }
    if (!PeerOnLocalNet(ntohl(d.from.sin_addr.s_addr), boundHost, d.index, nets)) continue;
    const std::string address = AddressText(d.from.sin_addr);
    bool wanted;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      wanted = m_book.Hear(heard, address, now);
    }
    if (wanted && m_found) m_found(heard.sha256, address, heard.port);
  }
}

}  // namespace p2sp
