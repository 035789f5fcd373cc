// tools/bench/page_scan_bench.cpp — benchmark of the scan and rewrite of a 4 MiB page.
// The page holds 40,000 absolute links: the cost must grow with the page, not with the
// page times its links.
#include <benchmark/benchmark.h>

#include <string.h>

#include <string>

#include "page/page.h"

// A page of about the given size, with the given number of absolute links
// spread evenly through filler text.
static std::string MakePage(size_t size, int links)
{
    std::string page;
    page.reserve(size + 100);
    std::string filler((size - (size_t)links * 40) / (size_t)links, 'x');
    for (int i = 0; i < links; ++i) {
        page += "<img src=\"http://host/a/p" + std::to_string(i) + ".gif\">";
        page += filler;
    }
    return page;
}

static void ScanAndRewrite(benchmark::State &state)
{
    static char title[TEXT_SIZE];
    g_scanSettings.startPath = "/a/";
    g_scanSettings.contentType = "text/html";
    g_scanSettings.outServer = 0;
    g_scanSettings.useFtp = 0;
    g_scanSettings.readTitle = 0;
    g_scanSettings.shortcutTitle = title;
    std::string page = MakePage((size_t)state.range(0), (int)state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        BlockHandle block = AllocBlock(page.size() + 1);
        memcpy(LockBlock(block), page.data(), page.size());
        UnlockBlock(block);
        SetPageText(block, page.size());
        LinkList list;
        CreateLinkList(&list);
        state.ResumeTiming();
        if (!ScanPage("host", "/a/b/", &list) || list.count != state.range(1))
            state.SkipWithError("the page was not scanned whole");
        state.PauseTiming();
        FreeLinkList(&list);
        ReleasePageText();
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)page.size());
}
BENCHMARK(ScanAndRewrite)
    ->Args({4 << 20, 40000})
    ->Args({1 << 20, 10000})
    ->Args({4 << 20, 10000})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
