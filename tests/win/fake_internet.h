// tests/win/fake_internet.h — an in-memory stand-in for the Internet client calls.
// Scripted responses per request, a record of every call the engine makes, and the clock the
// receive loop reads, which only a test moves.
#ifndef PARVEL_TESTS_WIN_FAKE_INTERNET_H
#define PARVEL_TESTS_WIN_FAKE_INTERNET_H

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>
#include <vector>

// One scripted response.
struct FakeResponse {
    bool sendFails = false;     // HttpSendRequestA fails
    DWORD sendError = 0;        // the error it then leaves for GetLastError
    bool statusReadable = true;
    DWORD status = 200;
    std::string rawHeaders = "HTTP/1.1 200 OK\r\nServer: fake\r\n\r\n";
    bool hasContentType = true;
    std::string contentType = "application/octet-stream";
    bool hasLastModified = true;
    SYSTEMTIME lastModified = {2001, 2, 6, 3, 4, 5, 6, 0};
    std::string lastModifiedText; // the header's text; empty: lastModified in RFC 1123 form
    bool hasLength = true;      // Content-Length as announced below
    unsigned long long length = 0; // when hasLength; set to the body size by Serve when 0
    std::string contentRange;   // empty: no Content-Range header
    std::string location;       // empty: no Location header
    std::string body;
    size_t chunk = 1000;        // bytes the library has ready at each query
    size_t failAt = (size_t)-1; // reads fail once this many bytes were given
};

// What the engine asked for in one request.
struct FakeRequestRecord {
    std::string host; // of the request's connection: "name port"
    std::string object;
    std::string version;
    DWORD flags = 0;
    std::string headers;
    std::vector<std::pair<DWORD, DWORD>> options; // option, value
    bool closed = false;
    size_t bytesRead = 0;
    int reads = 0;
};

// What the fake server answers for a request (object path and header block).
extern std::function<FakeResponse(const FakeRequestRecord &)> g_fakeAnswer;

// Every request made, in order, and a text line per connection and FTP call.
extern std::vector<FakeRequestRecord> g_fakeRequests;
extern std::vector<std::string> g_fakeCalls;

// FTP: the listing entry FtpFindFirstFileA gives (none when found is false)
// and the file body FtpOpenFileA reads.
struct FakeFtpFile {
    bool found = true;
    unsigned long long size = 0;
    FILETIME written = {};
    std::string body;
    bool opens = true;
};
extern FakeFtpFile g_fakeFtpFile;

// The first SetOption result (the receive time-out); the second always works.
extern bool g_fakeTimeoutAccepted;
// Whether InternetConnectA gives a connection.
extern bool g_fakeConnectWorks;
// Called on every read, after the bytes were given (a test may press Skip).
extern std::function<void(size_t bytesSoFar)> g_fakeOnRead;

// The engine's clock while the fakes are installed, in milliseconds: 0 at
// InstallFakeInternet, moved only by the test (g_fakeOnRead may move it).
extern DWORD g_fakeTick;

// Installs the fakes into g_internet and the engine's clock (keeping the real table) and clears
// the records; RestoreInternet puts the real calls back.
void InstallFakeInternet(void);
void RestoreInternet(void);

// A response carrying body with an HTTP/1.1 status line and a date.
FakeResponse BodyResponse(const std::string &body);

// Open request handles not yet closed.
int OpenFakeRequests(void);

#endif
