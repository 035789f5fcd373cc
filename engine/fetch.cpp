// engine/fetch.cpp — the fetch of one admitted address on a fetch worker: preparation, connection reuse, the request and its status.
#include "engine/engine.h"

#include "app/app.h"
#include "net/net.h"
#include "settings/settings.h"

CurrentConnection g_connection;

void ForgetConnection(void)
{
    CloseInternetHandle(&g_connection.handle);
    g_connection.host[0] = '\0';
    g_connection.user[0] = '\0';
    g_connection.service = 0;
}

// Makes the connection for host part, user and service the current one,
// reusing it when all three match; false when the library refuses it.
static bool Connect(const char *host, const char *user, const char *password, DWORD service)
{
    if (g_connection.handle != NULL && lstrcmpA(g_connection.host, host) == 0 &&
        lstrcmpiA(g_connection.user, user) == 0 && g_connection.service == service)
        return true;
    char hostName[TEXT_SIZE];
    INTERNET_PORT port = HostNameAndPort(host, hostName);
    ForgetConnection();
    ShowProgressTitle("Connecting...");
    OpenInternetSession();
    g_connection.handle = g_internet.Connect(g_internetSession, hostName, port, user, password, service, 0, 0);
    if (g_connection.handle == NULL)
        return false;
    lstrcpynA(g_connection.host, host, TEXT_SIZE);
    lstrcpynA(g_connection.user, user, TEXT_SIZE);
    g_connection.service = service;
    return true;
}

// Sends a GET for the object on the current connection and waits for the
// answer within the receive time-out; the body is not read.
static void SendPlainRequest(const char *path, const char *file)
{
    char object[TEXT_SIZE * 2];
    lstrcpynA(object, path, TEXT_SIZE);
    lstrcatA(object, file);
    HINTERNET request = g_internet.OpenRequest(g_connection.handle, "GET", object, "HTTP/1.1", NULL, NULL,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request == NULL)
        return;
    DWORD timeout = GetTimeout();
    if (g_internet.SetOption(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
        g_internet.SetOption(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    g_internet.SendRequest(request, NULL, 0, NULL, 0);
    CloseInternetHandle(&request);
}

int FetchAddress(const char *address, int depth, int attempt)
{
    (void)attempt;
    if (g_crawlState == CRAWL_STOP_REQUESTED)
        return 1;
    ShowProgressTitle("Prepareing.");
    char host[TEXT_SIZE], path[TEXT_SIZE], file[TEXT_SIZE], user[TEXT_SIZE], password[TEXT_SIZE];
    SplitAddress(address, host, path, file);
    TakeUserFromHost(host, user, password);
    DWORD service = depth == DEPTH_FTP ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
    if (!Connect(host, user, password, service))
        return 1;
    if (service == INTERNET_SERVICE_HTTP)
        SendPlainRequest(path, file);
    return 1;
}
