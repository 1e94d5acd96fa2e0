# Sourced by the scripts that run the real helper in a throw-away home folder:
# writes its settings file before it starts.
#
# write_helper_settings FILE KEY=VALUE...
#   FILE becomes a JSON object holding the given keys in order; a VALUE of
#   true or false is a boolean, anything else a string. The folder is created
#   when missing.

write_helper_settings() {
  local file=$1
  shift
  mkdir -p "$(dirname "$file")"
  python3 - "$@" >"$file" <<'PY'
import json, sys
settings = {}
for entry in sys.argv[1:]:
    key, _, value = entry.partition("=")
    settings[key] = {"true": True, "false": False}.get(value, value)
print(json.dumps(settings, ensure_ascii=False, indent=2))
PY
}
