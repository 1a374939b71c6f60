#!/usr/bin/env python3
"""Reads Google Benchmark JSON files and prints each measurement of the
program's code next to its peer's, with the ratio and the goal, as a
Markdown table. A benchmark run in rounds gives its median round and its
best round (the "min" statistic); the goal is judged on the median.

    bench/ratios.py RESULT.json...
"""
import json
import sys


def key(run_name):
    """'FifoSpill/file/read:1/iterations:3/manual_time' -> 'FifoSpill/file/read:1'."""
    kept = [p for p in run_name.split('/')
            if not p.startswith(('iterations:', 'repeats:', 'min_time:', 'manual_time', 'real_time'))]
    return '/'.join(kept)


def load(paths):
    """The median (or only) run of every benchmark, and the best rounds."""
    runs, best = {}, {}
    for path in paths:
        with open(path) as f:
            for b in json.load(f)['benchmarks']:
                if b.get('error_occurred'):
                    sys.exit(f"{b['name']}: {b.get('error_message')}")
                k = key(b.get('run_name', b['name']))
                # A median over repetitions wins over single runs.
                if b.get('run_type') == 'aggregate':
                    if b.get('aggregate_name') == 'median':
                        runs[k] = b
                    elif b.get('aggregate_name') == 'min':
                        best[k] = b
                elif k not in runs:
                    runs[k] = b
    return runs, best


def rounds(paths, wanted):
    """The single rounds (not the aggregates) of one measurement."""
    found = []
    for path in paths:
        with open(path) as f:
            for b in json.load(f)['benchmarks']:
                if b.get('run_type') == 'iteration' and key(b.get('run_name', b['name'])) == wanted:
                    found.append(b)
    return found


def picture_table(paths):
    """Picture downloads: the event loop's longest gap while a throttled
    picture arrives, and the full-speed time against curl; min and median of
    the rounds."""
    throttled = rounds(paths, 'PictureThrottled/FetchImageFile')
    gaps = [r['gap_ms'] for r in throttled]
    transfer_gaps = [r['transfer_gap_ms'] for r in throttled]
    idle_gaps = [r['gap_ms'] for r in rounds(paths, 'LoopIdle/10s')]
    ours = [seconds(r) * 1e3 for r in rounds(paths, 'PictureFullSpeed/FetchImageFile')]
    curl = [seconds(r) * 1e3 for r in rounds(paths, 'PictureFullSpeed/curl')]
    if not (gaps and ours and curl):
        return

    def median(values):
        v = sorted(values)
        return v[len(v) // 2] if len(v) % 2 else (v[len(v) // 2 - 1] + v[len(v) // 2]) / 2

    ratio = median(ours) / median(curl)
    print()
    print('| Picture download, 50 MB | Rounds | Min | Median | Goal |')
    print('|---|---|---|---|---|')
    print('| Longest event-loop gap, throttled to 1 MB/s | %d | %.0f ms | %.0f ms | %s (goal < 50 ms) |' % (
        len(gaps), min(gaps), median(gaps), 'met' if median(gaps) < 50 else 'MISSED'))
    print('| The same, up to the last byte received (no flush and rename) | %d | %.0f ms | %.0f ms | |' % (
        len(transfer_gaps), min(transfer_gaps), median(transfer_gaps)))
    if idle_gaps:
        print('| Control: longest gap of the idle loop over 10 s | %d | %.0f ms | %.0f ms | |' % (
            len(idle_gaps), min(idle_gaps), median(idle_gaps)))
    print('| Full loopback speed, FetchImageFile | %d | %.1f ms | %.1f ms | |' % (
        len(ours), min(ours), median(ours)))
    print('| Full loopback speed, curl -o | %d | %.1f ms | %.1f ms | |' % (
        len(curl), min(curl), median(curl)))
    print('| Ratio of the medians | | | %.2f | %s (goal <= 1.1) |' % (
        ratio, 'met' if ratio <= 1.1 else 'MISSED'))


def seconds(run):
    scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}[run.get('time_unit', 'ns')]
    return run['real_time'] * scale


def verdict(value, goal, higher_is_better):
    if goal is None:
        return ''
    met = value >= goal if higher_is_better else value <= goal
    return ('met' if met else 'MISSED') + (' (goal >= %g)' % goal if higher_is_better
                                           else ' (goal <= %g)' % goal)


def ratio_text(ratio):
    return ('%.2f' if ratio >= 0.1 else '%.3f') % ratio


def main(paths):
    runs, best = load(paths)
    rows = []

    def add(what, ours, peer, value, higher_is_better, unit, goal=None, best_value=None):
        if ours not in runs or peer not in runs:
            return
        a, b = value(runs[ours]), value(runs[peer])
        ratio = a / b
        best_ratio = '-'
        if ours in best and peer in best:
            get = best_value or value
            best_ratio = ratio_text(get(best[ours]) / get(best[peer]))
        rows.append((what, unit(a), unit(b), ratio_text(ratio), best_ratio,
                     verdict(ratio, goal, higher_is_better)))

    mbps = lambda r: r['bytes_per_second'] / 1e6
    # The best round of a throughput is its shortest time: the "min" of
    # bytes_per_second would be the slowest round.
    large = 100e6
    best_mbps = lambda r: large / seconds(r) / 1e6
    fmt_mbps = lambda v: '%.0f MB/s' % v
    fmt_us = lambda v: '%.1f us' % v
    fmt_ms = lambda v: '%.2f ms' % v

    per_request = lambda r: r['median_us']
    add('Page fetch, median per request (vs plain blocking C loop, a connection each)',
        'PageFetch/TKvHTTP', 'PageFetch/plain-c', per_request, False, fmt_us, 1.2)
    # Both sides of one run taking turns: the ratio of the median round's
    # medians, and the best round's own ratio.
    turns = 'PageFetch/interleaved'
    if turns in runs:
        r = runs[turns]
        ratio = r['ours_us'] / r['plain_us']
        best_ratio = ratio_text(best[turns]['ratio']) if turns in best else '-'
        rows.append(('Page fetch, the same two taking turns in blocks of 50 requests',
                     fmt_us(r['ours_us']), fmt_us(r['plain_us']), ratio_text(ratio), best_ratio,
                     verdict(ratio, 1.2, False)))
    add('Page fetch, median per request (vs curl --http1.0, a connection each)',
        'PageFetch/TKvHTTP', 'PageFetch/curl-http1.0', per_request, False, fmt_us, 1.0)
    add('Page fetch, median per request (vs curl, one process, keep-alive)',
        'PageFetch/TKvHTTP', 'PageFetch/curl', per_request, False, fmt_us)
    add('Plain blocking C loop (vs curl --http1.0)',
        'PageFetch/plain-c', 'PageFetch/curl-http1.0', per_request, False, fmt_us)
    add('Body throughput, 100 MB into a Body that keeps its memory (vs curl -o /dev/null)',
        'BodyThroughput/TKvHTTP/kept:1', 'BodyThroughput/curl', mbps, True, fmt_mbps, 0.8,
        best_mbps)
    add('Body throughput, 100 MB into a Body whose memory was freed (vs curl -o /dev/null)',
        'BodyThroughput/TKvHTTP/kept:0', 'BodyThroughput/curl', mbps, True, fmt_mbps, 0.6,
        best_mbps)
    add('TLS page fetch, median per request (vs curl --http1.0 --cacert, a connection each)',
        'PageFetchTls/TKvHTTP', 'PageFetchTls/curl-http1.0', per_request, False, fmt_us, 1.2)
    add('TLS page fetch, median per request (vs the same curl with --no-sessionid)',
        'PageFetchTls/TKvHTTP', 'PageFetchTls/curl-http1.0-no-sessionid', per_request, False,
        fmt_us)
    add('TLS body throughput, 100 MB into Body (vs curl --cacert -o /dev/null)',
        'BodyThroughputTls/TKvHTTP', 'BodyThroughputTls/curl', mbps, True, fmt_mbps, 0.8,
        best_mbps)
    for batch in ('1', '16'):
        add('FIFO, %s x 64 KiB in and out (vs one memcpy)' % batch,
            'FifoMemory/TKvFifoBuffer/' + batch, 'FifoMemory/memcpy/' + batch, mbps, True, fmt_mbps, 0.5)
        add('FIFO, %s x 64 KiB in and out (vs memcpy in and out)' % batch,
            'FifoMemory/TKvFifoBuffer/' + batch, 'FifoMemory/memcpy-in-and-out/' + batch, mbps, True,
            fmt_mbps)
    add('Spill, 64 MiB appended past 1 MiB (vs file write)',
        'FifoSpill/TKvFifoBuffer/drain:0', 'FifoSpill/file/read:0', mbps, True, fmt_mbps)
    add('Spill, 64 MiB drained again (vs file read)',
        'FifoSpill/TKvFifoBuffer/drain:1', 'FifoSpill/file/read:1', mbps, True, fmt_mbps)
    for kind in ('Baseline', 'Progressive'):
        add('JPEG 1920 x 1200 %s, load + decode (vs QImageReader)' % kind.lower(),
            'Jpeg%s/TJPEGImage' % kind, 'Jpeg%s/QImageReader' % kind, lambda r: seconds(r) * 1e3,
            False, fmt_ms, 1.15)
    # Both sides of one run taking turns, as for the page fetch.
    for kind, what, goal in (('800x600', '800 x 600 baseline', 1.15),
                             ('1920x1200', '1920 x 1200 baseline', 1.05),
                             ('1920x1200-progressive', '1920 x 1200 progressive', 1.05)):
        turns = 'JpegVsLibjpeg/' + kind
        if turns in runs:
            r = runs[turns]
            ratio = r['ours_ms'] / r['libjpeg_ms']
            best_ratio = ratio_text(best[turns]['ratio']) if turns in best else '-'
            rows.append(('JPEG %s, load + decode (vs bare libjpeg-turbo on the same file, '
                         'taking turns)' % what, fmt_ms(r['ours_ms']), fmt_ms(r['libjpeg_ms']),
                         ratio_text(ratio), best_ratio, verdict(ratio, goal, False)))

    print('| Measurement | Ours | Peer | Ratio (median) | Ratio (best round) | Goal |')
    print('|---|---|---|---|---|---|')
    for row in rows:
        print('| %s |' % ' | '.join(row))

    # The event loop's longest stand-still has no peer, only a bound.
    gap = 'EventLoopGap/TKvHTTP'
    if gap in runs:
        median, smallest = runs[gap]['longest_gap_ms'], best.get(gap, runs[gap])['longest_gap_ms']
        print()
        print('| Longest event-loop gap during the 100 MB Get (5 ms timer) | Median round '
              '| Best round | Goal |')
        print('|---|---|---|---|')
        print('| TKvHTTP | %.1f ms | %.1f ms | %s |' % (median, smallest,
                                                      verdict(median, 20, False)))

    picture_table(paths)

    # The whole download run has no peer: its time per number and its peak
    # resident memory, which must not grow with the number of pictures.
    whole = [(n, p) for n, p in (('50', '0'), ('100', '0'), ('100', '1'))
             if 'WholeRun/numbers:%s/present:%s' % (n, p) in runs]
    if whole:
        print()
        print('| Whole run on the demo site | Time per number | Peak resident memory | Above the start |')
        print('|---|---|---|---|')
        for n, p in whole:
            r = runs['WholeRun/numbers:%s/present:%s' % (n, p)]
            what = '%s numbers, pictures %s' % (n, 'present' if p == '1' else 'downloaded')
            print('| %s | %.2f ms | %.1f MiB | %.1f MiB |' % (
                what, r['ms_per_number'], r['peak_rss_mib'], r['added_rss_mib']))

    network_table(runs)
    log_table(runs)


def log_table(runs):
    """The log pane with an empty, a 1 MB and a full (8 MiB) log: the
    program's start to the pane's first painting and to the whole log in
    the pane, against the empty log's; the close and program end; the cost
    of a number against a pane that started empty; and the peak memory of a
    50 MB picture shown."""
    sizes = (('0', 'empty'), ('1000000', '1 MB'), ('8388608', '8 MiB'))
    start = {n: runs.get('LogStart/log_bytes:%s' % n) for n, _ in sizes}
    if start['0']:
        empty = seconds(start['0']) * 1e3
        print()
        print('| Log pane | Log | Median | Ratio to the empty log | Goal |')
        print('|---|---|---|---|---|')
        for n, name in sizes:
            r = start[n]
            if not r:
                continue
            ms = seconds(r) * 1e3
            goal = verdict(ms / empty, 2, False) if n != '0' else ''
            print('| Start to the pane\'s first painting | %s | %.1f ms | %s | %s |' % (
                name, ms, ratio_text(ms / empty), goal))
        for n, name in sizes:
            if start[n]:
                print('| Start until the pane holds the whole log | %s | %.1f ms | %s | |' % (
                    name, start[n]['whole_ms'], ratio_text(start[n]['whole_ms'] / empty)))
    for n, name in (('0', 'empty'), ('8388608', '8 MiB')):
        r = runs.get('LogClose/log_bytes:%s' % n)
        if r:
            ms = seconds(r) * 1e3
            print('| Close and program end | %s | %.1f ms | | %s |' % (
                name, ms, 'met (goal < 1200 ms)' if ms < 1200 else 'MISSED (goal < 1200 ms)'))
    r = runs.get('LogAppend/interleaved')
    if r:
        ratio = r['full_us'] / r['empty_us']
        print('| A number: AddLine and the log\'s append (to the disk), then repainting '
              '| 8 MiB against empty | %.0f us against %.0f us | %s | %s |' % (
                  r['full_us'], r['empty_us'], ratio_text(ratio), verdict(ratio, 1.1, False)))
        pane = r['full_pane_us'] / r['empty_pane_us']
        print('| The same, the pane\'s part alone (AddLine and repainting) | 8 MiB against empty '
              '| %.0f us against %.0f us | %s | |' % (
                  r['full_pane_us'], r['empty_pane_us'], ratio_text(pane)))
    r = runs.get('PictureShown/50MB')
    if r:
        print()
        print('| Picture shown | Peak resident memory above the idle windows | Budget: decoded + '
              'file + 40 MiB | Goal |')
        print('|---|---|---|---|')
        print('| 50 MB file, 1920 x 1200 picture, main window and hidden viewer | %.1f MiB '
              '| %.1f MiB | %s |' % (r['added_rss_mib'], r['budget_mib'],
                                    'met' if r['added_rss_mib'] <= r['budget_mib'] else 'MISSED'))


def network_table(runs):
    """The whole run through the delay proxy: ours (Parallel 6 and 1) against
    curl (8 workers; one number after another with a kept connection; a
    loop of curl commands), the median rounds."""
    found = [(rtt, runs['NetworkRun/rtt_ms:%d' % rtt]) for rtt in (0, 20, 50)
             if 'NetworkRun/rtt_ms:%d' % rtt in runs]
    if not found:
        return
    print()
    print('| Whole run, 61 numbers, through the delay proxy (ms per number) | Ours, Parallel 6 '
          '| Ours, Parallel 1 | curl, 8 workers | curl, one after another | curl commands, '
          'one after another | curl commands, 8 workers | Ours P6 / curl 8 '
          '| Ours P6 / curl one after another | Ours P6 / curl commands | Goal |')
    print('|---|---|---|---|---|---|---|---|---|---|---|')
    for rtt, r in found:
        ours = r['ours6_ms']
        commands = r.get('commands_ms')
        if rtt == 0:
            # On loopback, fetching ahead must beat one number after another
            # by half; both ways of doing that with curl are judged.
            goal = 'P6 / curl one after another: ' + verdict(ours / r['curl1_ms'], 0.5, False)
            if commands:
                goal += '; P6 / curl commands: ' + verdict(ours / commands, 0.5, False)
        else:
            # At a distance the parallel peers are the ones to match: libcurl
            # with 8 transfers on kept connections, and 8 loops of curl
            # commands (a connection per fetch, as `xargs -P 8`).
            goal = 'P6 / curl 8: ' + verdict(ours / r['curl8_ms'], 1.2, False)
            if 'commands8_ms' in r:
                goal += '; P6 / curl commands 8: ' + verdict(ours / r['commands8_ms'], 1.2, False)
        print('| Round trip %d ms | %.2f | %.2f | %.2f | %.2f | %s | %s | %s | %s | %s | %s |' % (
            rtt, ours, r['ours1_ms'], r['curl8_ms'], r['curl1_ms'],
            '%.2f' % commands if commands else '-',
            '%.2f' % r['commands8_ms'] if 'commands8_ms' in r else '-',
            ratio_text(ours / r['curl8_ms']),
            ratio_text(ours / r['curl1_ms']), ratio_text(ours / commands) if commands else '-',
            goal))
    print()
    print('| Round trip | Processor time per number: ours P6 | ours P1 | curl 8 | curl 1 '
          '| curl commands | Connections per number: ours P6 | ours P1 | curl 8 | curl 1 '
          '| curl commands | Proxy check: a page on a new / a kept connection |')
    print('|---|---|---|---|---|---|---|---|---|---|---|---|')
    for rtt, r in found:
        print('| %d ms | %.2f ms | %.2f ms | %.2f ms | %.2f ms | %s | %.2f | %.2f | %.2f | %.2f '
              '| %s | %.1f / %.1f ms |' % (
                  rtt, r['ours6_cpu_ms'], r['ours1_cpu_ms'], r['curl8_cpu_ms'],
                  r['curl1_cpu_ms'],
                  '%.2f ms' % r['commands_cpu_ms'] if 'commands_cpu_ms' in r else '-',
                  r['ours6_conns'], r['ours1_conns'], r['curl8_conns'], r['curl1_conns'],
                  '%.2f' % r['commands_conns'] if 'commands_conns' in r else '-',
                  r['fresh_ms'], r['reused_ms']))


if __name__ == '__main__':
    main(sys.argv[1:])
