// net/net.h — the layer over the Internet client library.
// Every call the engine makes goes through this table, so tests can watch or replace a call.
#ifndef PARVEL_NET_NET_H
#define PARVEL_NET_NET_H

#include <windows.h>
#include <wininet.h>

// The user agent every session announces.
#define USER_AGENT "QEX/10.0(Windows95 or NT)"

struct InternetCalls {
    DWORD(WINAPI *AttemptConnect)(DWORD reserved);
    HINTERNET(WINAPI *Open)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
    BOOL(WINAPI *CloseHandle)(HINTERNET handle);
    HINTERNET(WINAPI *Connect)(HINTERNET session, LPCSTR host, INTERNET_PORT port, LPCSTR user,
                               LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context);
    HINTERNET(WINAPI *OpenRequest)(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version,
                                   LPCSTR referrer, LPCSTR *acceptTypes, DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *SetOption)(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
    BOOL(WINAPI *SendRequest)(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                              DWORD optionalLength);
    BOOL(WINAPI *QueryInfo)(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD index);
    HINTERNET(WINAPI *FtpOpenFile)(HINTERNET connection, LPCSTR file, DWORD access, DWORD flags, DWORD_PTR context);
    HINTERNET(WINAPI *FtpFindFirstFile)(HINTERNET connection, LPCSTR search, LPWIN32_FIND_DATAA data,
                                        DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *QueryDataAvailable)(HINTERNET request, LPDWORD available, DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *ReadFile)(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read);
    BOOL(WINAPI *CanonicalizeUrl)(LPCSTR url, LPSTR buffer, LPDWORD length, DWORD flags);
    BOOL(WINAPI *AutodialHangup)(DWORD reserved);
    BOOL(WINAPI *GetCookie)(LPCSTR url, LPCSTR name, LPSTR data, LPDWORD size, DWORD flags, LPVOID reserved);
    DWORD(WINAPI *SetCookie)(LPCSTR url, LPCSTR name, LPCSTR data, DWORD flags, DWORD_PTR reserved);
};

// The calls in use; filled with the Internet client library's own functions.
extern InternetCalls g_internet;

// Closes an Internet handle when there is one and empties it.
void CloseInternetHandle(HINTERNET *handle);

#endif
