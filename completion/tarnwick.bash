# bash completion for tarnwick: command words and aliases, each command's options, and the
# model files a command reads (directories are always offered, to walk into).

_tarnwick_commands="help tour version doctor convert inspect diff explain explain-diff check
contents scan profile catboost cbm lightgbm lgbm onnx pytorch pt trace summary compare why
validate tensor-inspect run bench quiz demo explain-model walkthrough"

# Options of each command word; aliases share their command's list. Every command also takes
# --help (and -h), and an option that takes a value may be joined to it: --limit=5.
_tarnwick_options() {
  case $1 in
    inspect | catboost | cbm) echo "--deep --json --limit" ;;
    lightgbm | lgbm | pytorch | pt | onnx) echo "--json --limit" ;;
    contents) echo "--json --limit --stats" ;;
    diff) echo "--contents --deep --json --limit --values --map --match-by-content" ;;
    check) echo "--json --max-size-growth --max-ops-growth --max-parameter-growth --fail-on-feature-change
                 --fail-on-training-config-change --fail-on-new-op --fail-on-nonfinite --max-tensor-change
                 --frozen --max-serving-memory --context" ;;
    scan) echo "--json --sarif --fail-on --allow --policy -r --recursive" ;;
    doctor) echo "--json" ;;
    profile) echo "--json --strict --limit --dim --context --batch --cache-dtype" ;;
    convert) echo "--out" ;;
    explain) echo "--step --quiz --shapes --memory --math --compare" ;;
    run) echo "--values --heatmap" ;;
    bench) echo "--iters" ;;
    demo) echo "--step --values" ;;
  esac
}

# File extensions (lower case) of the paths each command reads.
_tarnwick_extensions() {
  local models="cbm|lgb|txt|ubj|onnx|pt|pth|bin|ckpt" tensors="safetensors|gguf|npy|npz|tflite|keras"
  case $1 in
    inspect) echo "$models|$tensors|json" ;;
    explain-diff | check) echo "$models|$tensors|json" ;;  # XGBoost JSON models
    diff | contents) echo "$models|$tensors|json" ;;
    catboost | cbm) echo "cbm" ;;
    lightgbm | lgbm) echo "lgb|txt" ;;
    pytorch | pt) echo "pt|pth|bin|ckpt" ;;
    onnx) echo "onnx" ;;
    profile) echo "onnx|safetensors|gguf" ;;
    scan) echo "pt|pth|bin|ckpt|pkl|pickle|onnx|safetensors|gguf|npy|npz|keras" ;;
    convert) echo "pkl|pickle" ;;
    explain) echo "$models|$tensors|json" ;;
    trace | summary | compare | why | validate | tensor-inspect | run | bench | quiz | \
      explain-model | walkthrough) echo "json" ;;
  esac
}

# Adds the directories and the files with one of the extensions (either case) under $1.
_tarnwick_paths() {
  local cur=$1 extensions=$2 restore_extglob
  restore_extglob=$(shopt -p extglob)
  shopt -s extglob
  local IFS=$'\n'
  COMPREPLY+=($(compgen -d -- "$cur"))
  local file
  for file in $(compgen -f -X "!*.@($extensions|${extensions^^})" -- "$cur"); do
    [[ -d $file ]] || COMPREPLY+=("$file")
  done
  eval "$restore_extglob"
  compopt -o filenames 2>/dev/null
}

_tarnwick() {
  COMPREPLY=()
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "$_tarnwick_commands --help --version" -- "$cur"))
    return 0
  fi
  local command=${COMP_WORDS[1]}
  if [[ $command == help ]]; then
    ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W "$_tarnwick_commands" -- "$cur"))
    return 0
  fi
  case $prev in
    --limit | --iters | --dim | --max-size-growth | --max-ops-growth | --max-parameter-growth | \
      --max-tensor-change | --frozen | --max-serving-memory | --context | --batch)
      return 0 ;;  # a number, a size, NAME=VALUE or a tensor-name pattern follows
    --cache-dtype)
      COMPREPLY=($(compgen -W "float32 float16 bfloat16 float8_e4m3fn float8_e5m2 int8 q8_0 q5_1 q5_0 q4_1 q4_0 iq4_nl" -- "$cur"))
      return 0 ;;
    --out | -o)
      _tarnwick_paths "$cur" "txt|cbm"
      return 0 ;;
    --fail-on)
      COMPREPLY=($(compgen -W "dangerous unknown framework" -- "$cur"))
      return 0 ;;
    --allow)
      return 0 ;;  # MODULE.NAME follows
    --sarif)
      _tarnwick_paths "$cur" "sarif|json"
      return 0 ;;
    --policy | --map)
      local IFS=$'\n'
      COMPREPLY=($(compgen -f -- "$cur"))
      compopt -o filenames 2>/dev/null
      return 0 ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_tarnwick_options "$command") --help" -- "$cur"))
    return 0
  fi
  if [[ $command == explain ]]; then
    COMPREPLY=($(compgen -W "tensor matmul linear softmax attention transformer" -- "$cur"))
  elif [[ $command == demo ]]; then
    COMPREPLY=($(compgen -W "attention" -- "$cur"))
    return 0
  fi
  local extensions
  extensions=$(_tarnwick_extensions "$command")
  [[ -n $extensions ]] && _tarnwick_paths "$cur" "$extensions"
  return 0
}

complete -F _tarnwick tarnwick
