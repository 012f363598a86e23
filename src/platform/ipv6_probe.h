#pragma once

namespace zarvik {

// True when this host can create a TCP socket of the IPv6 family; the socket
// is closed again at once. Used once at start-up to decide whether AAAA
// lookups and IPv6 connections are worth trying.
bool canCreateIPv6TcpSocket();

}  // namespace zarvik
