#include "lan_announcer.h"

#include <chrono>
#include <random>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
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
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(m_options.udpPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
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

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{0, static_cast<long>(kWaitMs * 1000)};
    if (select(static_cast<int>(s) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
    char buffer[256];
    sockaddr_in from{};
    socklen_t fromSize = sizeof(from);
    const auto got = recvfrom(s, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    PeerAnnounce heard;
    if (got <= 0 || !ParseAnnounce(buffer, static_cast<size_t>(got), &heard)) continue;
    const std::string address = AddressText(from.sin_addr);
    bool wanted;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      wanted = m_book.Hear(heard, address, SteadyMs());
    }
    if (wanted && m_found) m_found(heard.sha256, address, heard.port);
  }
}

}  // namespace p2sp
