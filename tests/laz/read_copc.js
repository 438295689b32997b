'use strict';
// Usage: node read_copc.js FILE [--points]
//
// Reads a COPC file with the copc package (copc.js, which decodes with laz-perf; neither shares
// any code with ours), walks its whole hierarchy, page by page, and prints one JSON document on
// stdout: the info VLR, the header fields that locate and scale the points, the number of
// hierarchy pages and every node, sorted by key (depth, x, y, z). With --points each node also
// lists its points as [x, y, z, gpstime], coordinates scaled and offset as the package gives them.
//
// Every page and node must lie inside the file, a page may be reached only once and a key may
// appear only once; anything else is a failure. On any failure: one line on stderr, exit status 1
// (2 for a wrong command line), nothing on stdout.

const fs = require('fs');

function fail(message, status = 1) {
    process.stderr.write(`read_copc: ${String(message).split('\n')[0]}\n`);
    process.exit(status);
}

async function main() {
    const args = process.argv.slice(2);
    const withPoints = args.length === 2 && args[1] === '--points';
    if (args.length !== 1 && !withPoints) fail('usage: node read_copc.js FILE [--points]', 2);
    const path = args[0];

    let Copc, createLazPerf;
    try {
        ({ Copc } = require('copc'));
        ({ createLazPerf } = require('laz-perf'));
    } catch (e) {
        fail('copc or laz-perf is not installed next to this script (run tools/install-lazperf.sh)');
    }
    let file;
    try {
        file = fs.readFileSync(path);
    } catch (e) {
        fail(`cannot read ${path}: ${e.message}`);
    }
    // Like the package's own file getter, a read past the end gives the bytes there are: it
    // reads a fixed 64 KiB up front whatever the file's size. Ranges in the hierarchy are
    // checked against the size below instead.
    const getter = async (begin, end) => file.subarray(begin, end);
    const inside = (offset, length) => offset >= 0 && length >= 0 && offset + length <= file.length;

    const copc = await Copc.create(getter);
    const nodes = new Map();
    const seenPages = new Set();
    let pages = 0;
    const walk = async (key, page) => {
        if (!inside(page.pageOffset, page.pageLength))
            throw new Error(`page ${key} (${page.pageOffset}+${page.pageLength}) is outside the file`);
        if (seenPages.has(page.pageOffset)) throw new Error(`page ${key} is reached twice`);
        seenPages.add(page.pageOffset);
        ++pages;
        const subtree = await Copc.loadHierarchyPage(getter, page);
        for (const [k, node] of Object.entries(subtree.nodes)) {
            if (nodes.has(k)) throw new Error(`node ${k} appears twice`);
            if (!inside(node.pointDataOffset, node.pointDataLength))
                throw new Error(`node ${k} is outside the file`);
            nodes.set(k, node);
        }
        for (const [k, sub] of Object.entries(subtree.pages)) await walk(k, sub);
    };
    await walk('0-0-0-0', copc.info.rootHierarchyPage);

    const keyOf = (k) => k.split('-').map(Number);
    const order = (a, b) => {
        const [p, q] = [keyOf(a), keyOf(b)];
        for (let i = 0; i < 4; ++i) if (p[i] !== q[i]) return p[i] - q[i];
        return 0;
    };
    // laz-perf's own instance would print to stdout, where the JSON goes.
    const lazPerf = withPoints ? await createLazPerf({ print: () => {}, printErr: () => {} }) : null;
    const out = [];
    for (const key of [...nodes.keys()].sort(order)) {
        const node = nodes.get(key);
        const entry = {
            key,
            pointCount: node.pointCount,
            pointDataOffset: node.pointDataOffset,
            pointDataLength: node.pointDataLength,
        };
        if (withPoints) {
            entry.points = [];
            if (node.pointCount > 0) {
                const view = await Copc.loadPointDataView(getter, copc, node, {
                    lazPerf,
                    include: ['X', 'Y', 'Z', 'GpsTime'],
                });
                const get = ['X', 'Y', 'Z', 'GpsTime'].map((name) => view.getter(name));
                for (let i = 0; i < view.pointCount; ++i) entry.points.push(get.map((g) => g(i)));
            }
        }
        out.push(entry);
    }

    const { info, header } = copc;
    process.stdout.write(
        JSON.stringify({
            info: {
                cube: info.cube,
                spacing: info.spacing,
                rootHierarchyPage: info.rootHierarchyPage,
                gpsTimeRange: info.gpsTimeRange,
            },
            header: {
                pointCount: header.pointCount,
                pointDataRecordFormat: header.pointDataRecordFormat,
                pointDataRecordLength: header.pointDataRecordLength,
                scale: header.scale,
                offset: header.offset,
                min: header.min,
                max: header.max,
            },
            pages,
            nodes: out,
        }) + '\n',
    );
}

main().catch((e) => fail(e instanceof Error ? e.message : String(e)));
