#include "chat/net/net_layer.h"

#include "chat/net/finger.h"
#include "chat/net/ident.h"
#include "chat/net/socks4.h"

namespace chat {

void InstallNet() {
    InstallSocks();
    InstallIdent();
    InstallFinger();
}

}  // namespace chat
