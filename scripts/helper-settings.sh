# Sourced by the scripts that run the real helper in a throw-away home folder:
# writes its settings file before it starts.
#
# write_helper_settings FILE KEY=VALUE...
#   FILE becomes an XML property list holding the given keys in order; a
#   VALUE of true or false is a bool, anything else a string. The folder is
#   created when missing.

xml_text() {
  # The replacements are quoted: unquoted, bash 5.2 reads & as the match.
  local text=${1//&/"&amp;"}
  text=${text//</"&lt;"}
  printf '%s' "${text//>/"&gt;"}"
}

write_helper_settings() {
  local file=$1 entry key value
  shift
  mkdir -p "$(dirname "$file")"
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">'
    echo '<plist version="1.0">'
    echo '<dict>'
    for entry in "$@"; do
      key=${entry%%=*}
      value=${entry#*=}
      printf '\t<key>%s</key>\n' "$(xml_text "$key")"
      case $value in
        true | false) printf '\t<%s/>\n' "$value" ;;
        *) printf '\t<string>%s</string>\n' "$(xml_text "$value")" ;;
      esac
    done
    echo '</dict>'
    echo '</plist>'
  } >"$file"
}
