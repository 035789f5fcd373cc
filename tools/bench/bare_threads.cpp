// tools/bench/bare_threads.cpp — what a waiting thread costs, and how many a program can hold.
// Makes N threads that each wait for one event (stack reserved as a fetch worker reserves it),
// prints how many were made and why the next one failed, then keeps them waiting for S seconds
// so that the process's memory, threads and open files can be read from outside.
// Usage: bare_threads.exe N [S]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "engine/engine_internal.h"

static HANDLE s_release;

static DWORD WINAPI WaitForRelease(LPVOID)
{
    WaitForSingleObject(s_release, INFINITE);
    return 0;
}

int main(int argc, char **argv)
{
    int wanted = argc > 1 ? atoi(argv[1]) : 1000;
    DWORD seconds = argc > 2 ? (DWORD)atoi(argv[2]) : 10;
    s_release = CreateEventA(NULL, TRUE, FALSE, NULL);
    int made = 0;
    for (; made < wanted; ++made) {
        HANDLE thread = CreateThread(NULL, WORKER_STACK_RESERVE, WaitForRelease, NULL,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (thread == NULL) {
            printf("thread %d not made: error %lu\n", made + 1, GetLastError());
            break;
        }
        CloseHandle(thread);
    }
    printf("made %d waiting threads\n", made);
    fflush(stdout);
    Sleep(seconds * 1000);
    SetEvent(s_release);
    return 0;
}
