#pragma once

#include <QString>

namespace vantero {

// What is wrong with an address the user entered (or a page redirected to) before anything is
// downloaded from it, as a Chinese sentence naming the problem and the address; empty when it
// can be read. Surrounding blanks are no part of an address.
QString WebAddressProblem(const QString& typed);

// The address as a message shows it: whole when short, else its start and an ellipsis.
QString ShownAddress(const QString& address);

// Whether host (a name or a literal address) is this machine, a link-local or a private-network
// address, or the unspecified one: places a marketplace page must never lead the program to.
bool IsLocalNetworkHost(const QString& host);

} // namespace vantero
