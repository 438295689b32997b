'use strict';
// Usage: node decode_chunks.js FORMAT RECORD_LENGTH IN.bin OUT.bin
//
// Decodes LAZ chunks one by one with laz-perf's ChunkDecoder (an implementation of LASzip that
// has nothing in common with ours) and writes the decoded records back to back to OUT.bin. IN.bin
// holds the chunks as frames: a u32 point count, a u32 byte count, then the chunk's bytes. FORMAT
// is the LAS point format (0-3 or 6-8; laz-perf uses the standard items of that format) and
// RECORD_LENGTH the record length, extra bytes included.
//
// On any failure: one line on stderr, exit status 1 (2 for a wrong command line), and no OUT.bin.

const fs = require('fs');

// laz-perf is handed a chunk without its length; zero bytes after it keep its reads inside
// memory that belongs to the chunk's buffer.
const PADDING = 64;

let outPath = null;

function fail(message, status = 1) {
    if (outPath !== null) {
        try {
            fs.unlinkSync(outPath);
        } catch (e) {
            // nothing was written yet
        }
    }
    process.stderr.write(`decode_chunks: ${String(message).split('\n')[0]}\n`);
    process.exit(status);
}

async function main() {
    const args = process.argv.slice(2);
    if (args.length !== 4) fail('usage: node decode_chunks.js FORMAT RECORD_LENGTH IN.bin OUT.bin', 2);
    const format = Number(args[0]);
    const length = Number(args[1]);
    const [inPath, outFile] = args.slice(2);
    if (!Number.isInteger(format) || !Number.isInteger(length) || length <= 0)
        fail('FORMAT and RECORD_LENGTH must be whole numbers', 2);

    let createLazPerf;
    try {
        ({ createLazPerf } = require('laz-perf'));
    } catch (e) {
        fail('laz-perf is not installed next to this script (run tools/install-lazperf.sh)');
    }
    let frames;
    try {
        frames = fs.readFileSync(inPath);
    } catch (e) {
        fail(`cannot read ${inPath}: ${e.message}`);
    }
    const lazperf = await createLazPerf({ print: () => {}, printErr: () => {} });

    outPath = outFile;
    const fd = fs.openSync(outFile, 'w');
    let at = 0;
    let chunk = 0;
    while (at < frames.length) {
        if (at + 8 > frames.length) fail(`${inPath}: frame ${chunk} is cut short`);
        const points = frames.readUInt32LE(at);
        const bytes = frames.readUInt32LE(at + 4);
        at += 8;
        if (at + bytes > frames.length) fail(`${inPath}: chunk ${chunk} is cut short`);
        const input = lazperf._malloc(bytes + PADDING);
        const output = lazperf._malloc(Math.max(1, points * length));
        if (input === 0 || output === 0) fail(`chunk ${chunk}: laz-perf cannot allocate memory`);
        lazperf.HEAPU8.fill(0, input, input + bytes + PADDING);
        lazperf.HEAPU8.set(frames.subarray(at, at + bytes), input);
        const decoder = new lazperf.ChunkDecoder();
        try {
            decoder.open(format, length, input);
            for (let i = 0; i < points; ++i) decoder.getPoint(output + i * length);
        } catch (e) {
            fail(`chunk ${chunk}: laz-perf: ${e instanceof Error ? e.message : String(e)}`);
        }
        decoder.delete();
        const records = lazperf.HEAPU8.subarray(output, output + points * length);
        for (let done = 0; done < records.length;)
            done += fs.writeSync(fd, records, done, records.length - done);
        lazperf._free(input);
        lazperf._free(output);
        at += bytes;
        ++chunk;
    }
    fs.closeSync(fd);
}

main().catch((e) => fail(e instanceof Error ? e.message : String(e)));
