// The program starts Winsock before any session; the tests that open sockets need the same, once.
#include <winsock2.h>

namespace {

const int g_winsock = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}();

}  // namespace
