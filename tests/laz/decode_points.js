'use strict';
// Usage: node decode_points.js IN.laz OUT.bin
//
// Decodes every point record of a LAZ file with laz-perf (an implementation of LASzip that has
// nothing in common with ours) and writes the decoded records back to back to OUT.bin: exactly
// point count x record length bytes. The tests compare these records with what they expect, so a
// LAZ file that Quillet writes is checked by a decoder that is not Quillet's.
//
// On any failure: one line on stderr, exit status 1 (2 for a wrong command line), and no OUT.bin.
//
// laz-perf reads the whole file in one piece into its WebAssembly memory, which cannot grow past
// 2 GiB; the decoded records go to OUT.bin in batches and never all sit in memory.

const fs = require('fs');

const LAS_HEADER_MIN = 227;    // LAS 1.0-1.2 header; 1.3 and 1.4 headers are longer
const BYTES_PER_WRITE = 4 << 20;  // about; at least one record

let outPath = null;

function fail(message, status = 1) {
    if (outPath !== null) {
        try {
            fs.unlinkSync(outPath);
        } catch (e) {
            // nothing was written yet
        }
    }
    process.stderr.write(`decode_points: ${String(message).split('\n')[0]}\n`);
    process.exit(status);
}

// What the header says about the file, checked before laz-perf sees it: laz-perf reads an
// uncompressed LAS file as well, and the tests want a file that is not LAZ refused, not copied.
function readHeader(data) {
    if (data.length < LAS_HEADER_MIN || data.toString('latin1', 0, 4) !== 'LASF')
        throw new Error('not a LAS/LAZ file (no LASF signature)');
    const major = data[24];
    const minor = data[25];
    if (major !== 1 || minor > 4) throw new Error(`unsupported LAS version ${major}.${minor}`);
    const formatByte = data[104];
    if ((formatByte & 0xc0) === 0)
        throw new Error(`not compressed (point data format byte ${formatByte}): not a LAZ file`);
    const recordLength = data.readUInt16LE(105);
    let count = BigInt(data.readUInt32LE(107));
    if (minor === 4) {
        if (data.length < 255) throw new Error('LAS 1.4 header is cut short');
        count = data.readBigUInt64LE(247);
    }
    return { minor, recordLength, count };
}

// laz-perf reports a C++ exception as a string that starts with the exception object's address.
// For its own errors (std::runtime_error under wasm32) the message text is at the address stored
// 4 bytes into that object; read it when it looks like text, otherwise keep laz-perf's words.
function describe(lazperf, error) {
    const text = error instanceof Error ? error.message : String(error);
    const match = /^(\d+)\b/.exec(text);
    if (match === null) return text;
    const object = Number(match[1]);
    const heap = lazperf.HEAPU8;
    if (object + 8 > heap.length) return text;
    const start = lazperf.HEAPU32[(object + 4) >>> 2];
    let message = '';
    for (let i = start; i < heap.length && i < start + 300 && heap[i] !== 0; ++i) {
        if (heap[i] < 0x20 || heap[i] > 0x7e) return text;
        message += String.fromCharCode(heap[i]);
    }
    return message.length > 0 ? message : text;
}

async function main() {
    const args = process.argv.slice(2);
    if (args.length !== 2) fail('usage: node decode_points.js IN.laz OUT.bin', 2);
    const [inPath, outFile] = args;

    let createLazPerf;
    try {
        ({ createLazPerf } = require('laz-perf'));
    } catch (e) {
        fail('laz-perf is not installed next to this script (run tools/install-lazperf.sh)');
    }

    let data;
    try {
        data = fs.readFileSync(inPath);
    } catch (e) {
        fail(`cannot read ${inPath}: ${e.message}`);
    }
    let header;
    try {
        header = readHeader(data);
    } catch (e) {
        fail(`${inPath}: ${e.message}`);
    }
    // The module's own messages would be extra lines on stderr: keep the last one for the report.
    let lastModuleMessage = '';
    const lazperf = await createLazPerf({
        print: (line) => {
            lastModuleMessage = line;
        },
        printErr: (line) => {
            lastModuleMessage = line;
        },
    });

    const size = data.length;
    const input = lazperf._malloc(size);
    if (input === 0) fail(`${inPath}: laz-perf cannot hold ${size} bytes in its memory`);
    lazperf.HEAPU8.set(data, input);
    data = null;

    const file = new lazperf.LASZip();
    let decoded = 0n;  // points decoded in the batches written so far
    let inBatch = 0;   // and in the batch under way
    try {
        file.open(input, size);
    } catch (e) {
        fail(`${inPath}: laz-perf: ${describe(lazperf, e)}`);
    }
    try {
        const count = BigInt(file.getCount());
        const length = file.getPointLength();
        if (count !== header.count)
            throw new Error(`laz-perf counts ${count} points, the header ${header.count}`);
        if (length !== header.recordLength)
            throw new Error(`laz-perf's record length ${length}, the header's ${header.recordLength}`);

        outPath = outFile;
        const fd = fs.openSync(outFile, 'w');
        const perWrite = BigInt(Math.max(1, Math.floor(BYTES_PER_WRITE / length)));
        const batch = lazperf._malloc(Number(perWrite) * length);
        if (batch === 0) throw new Error('laz-perf cannot allocate its output buffer');
        while (decoded < count) {
            const n = Number(count - decoded < perWrite ? count - decoded : perWrite);
            for (inBatch = 0; inBatch < n; ++inBatch) file.getPoint(batch + inBatch * length);
            // The heap may have grown (and HEAPU8 been replaced) while decoding.
            const bytes = lazperf.HEAPU8.subarray(batch, batch + n * length);
            for (let done = 0; done < bytes.length;)
                done += fs.writeSync(fd, bytes, done, bytes.length - done);
            decoded += BigInt(n);
            inBatch = 0;
        }
        fs.closeSync(fd);
    } catch (e) {
        const why = describe(lazperf, e);
        fail(`${inPath}: laz-perf: ${why} (after ${decoded + BigInt(inBatch)} points)` +
             (lastModuleMessage ? `; ${lastModuleMessage}` : ''));
    }
}

main().catch((e) => fail(e instanceof Error ? e.message : String(e)));
