#include "chat/net/net_layer.h"

#include "chat/net/finger.h"
#include "chat/net/ident.h"
#include "chat/net/socks4.h"
#include "chat/net/tls.h"

namespace chat {

void InstallNet() {
    InstallSocks();
    InstallIdent();
    InstallFinger();
    InstallTls();
}

}  // namespace chat
