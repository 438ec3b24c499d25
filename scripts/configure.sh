# Sourced by run.sh and test.sh: configure_tree DIR [CMAKE ARGS...] configures the
# repository into DIR, with Ninja when it is installed. A tree that already exists keeps
# the generator it was made with, since CMake refuses to switch.
configure_tree() {
  local dir="$1"
  shift
  local generator=()
  if [[ ! -f "$dir/CMakeCache.txt" ]] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  cmake -S . -B "$dir" "${generator[@]}" "$@"
}
