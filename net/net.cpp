// net/net.cpp — the table of Internet client calls, filled with the library's functions.
#include "net/net.h"

InternetCalls g_internet = {
    InternetAttemptConnect,
    InternetOpenA,
    InternetCloseHandle,
    InternetConnectA,
    HttpOpenRequestA,
    InternetSetOptionA,
    HttpSendRequestA,
    HttpQueryInfoA,
    FtpOpenFileA,
    FtpFindFirstFileA,
    InternetQueryDataAvailable,
    InternetReadFile,
    InternetCanonicalizeUrlA,
    InternetAutodialHangup,
    InternetGetCookieExA,
    InternetSetCookieExA,
};

void CloseInternetHandle(HINTERNET *handle)
{
    if (*handle != NULL)
        g_internet.CloseHandle(*handle);
    *handle = NULL;
}
