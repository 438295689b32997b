'use strict';
// Usage: node lazperf_decode.js FILE.laz
//
// Times laz-perf (tests/laz/node_modules) decoding every point of a LAZ file: the file is read
// and opened first, then only the decode loop is timed. Prints "decode POINTS SECONDS".
const fs = require('fs');
const path = require('path');

async function main() {
    const { createLazPerf } = require(path.join(__dirname, '../tests/laz/node_modules/laz-perf'));
    const data = fs.readFileSync(process.argv[2]);
    const lazperf = await createLazPerf();
    const input = lazperf._malloc(data.length);
    lazperf.HEAPU8.set(data, input);
    const file = new lazperf.LASZip();
    file.open(input, data.length);
    const count = file.getCount();
    const length = file.getPointLength();
    const point = lazperf._malloc(length);
    const start = process.hrtime.bigint();
    for (let i = 0; i < count; ++i) file.getPoint(point);
    const seconds = Number(process.hrtime.bigint() - start) / 1e9;
    console.log(`decode ${count} ${seconds.toFixed(6)}`);
}

main().catch((e) => {
    process.stderr.write(`lazperf_decode: ${e instanceof Error ? e.message : e}\n`);
    process.exit(1);
});
