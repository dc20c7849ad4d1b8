// Prints @huggingface/gguf's reading of GGUF files as JSON lines (64-bit integers as strings).
// Usage: node gguf_oracle.mjs <path to the package's dist/index.mjs> <file.gguf>...
const { gguf } = await import(process.argv[2]);
for (const path of process.argv.slice(3)) {
  const result = await gguf(path, { allowLocalFile: true });
  const reading = {
    metadata: result.metadata,
    tensorInfos: result.tensorInfos,
    tensorDataOffset: result.tensorDataOffset,
  };
  console.log(JSON.stringify(reading, (key, value) => (typeof value === "bigint" ? value.toString() : value)));
}
