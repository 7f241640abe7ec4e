# OBS Studio under Xvfb for the installed OBS test and the README's picture:
# sourced, it gives obs_studio_start and obs_studio_stop. Run it in a network
# namespace of its own (unshare -n) with the loopback interface up: OBS tries
# to update its service lists over the network when it starts.

obs_studio_pids=()

# obs_studio_start WORK PICTURE PASSWORD [WIDTH HEIGHT]
# Writes OBS's settings into WORK/config (past its first run, so no
# configuration wizard; obs-websocket on port 4455 with PASSWORD; a profile with a canvas of WIDTHxHEIGHT, by
# default PICTURE's size; a scene "Scene" holding the image source "Picture"
# that shows PICTURE at the canvas's top left), starts Xvfb and obs with
# them, and sets DISPLAY. OBS's log is WORK/config/obs-studio/logs/*.txt.
obs_studio_start() {
  local work="$1" picture="$2" password="$3" width="${4:-}" height="${5:-}"
  if [ -z "$width" ]; then
    IFS=, read -r width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
      -of csv=p=0 "$picture")
  fi
  local config="$work/config/obs-studio"
  mkdir -p "$config/basic/profiles/Brimtone" "$config/basic/scenes"
  cat >"$config/global.ini" <<EOF
[General]
FirstRun=true
Pre19Defaults=false
Pre21Defaults=false
Pre23Defaults=false
Pre24.1Defaults=false

[Basic]
Profile=Brimtone
ProfileDir=Brimtone
SceneCollection=Brimtone
SceneCollectionFile=Brimtone

[OBSWebSocket]
FirstLoad=false
ServerEnabled=true
ServerPort=4455
AlertsEnabled=false
AuthRequired=true
ServerPassword=$password
EOF
  cat >"$config/basic/profiles/Brimtone/basic.ini" <<EOF
[General]
Name=Brimtone

[Video]
BaseCX=$width
BaseCY=$height
OutputCX=$width
OutputCY=$height
EOF
  cat >"$config/basic/scenes/Brimtone.json" <<EOF
{
  "name": "Brimtone",
  "current_scene": "Scene",
  "current_program_scene": "Scene",
  "scene_order": [{"name": "Scene"}],
  "sources": [
    {"id": "image_source", "versioned_id": "image_source", "name": "Picture", "enabled": true,
     "settings": {"file": "$picture"}},
    {"id": "scene", "versioned_id": "scene", "name": "Scene", "enabled": true,
     "settings": {"id_counter": 1, "items": [
       {"name": "Picture", "id": 1, "visible": true, "align": 5,
        "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}}]}}
  ]
}
EOF
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
  obs_studio_pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work/config" LIBGL_ALWAYS_SOFTWARE=1
  obs --multi --collection Brimtone --profile Brimtone >"$work/obs.out" 2>&1 &
  obs_studio_pids+=($!)
}

# Ends obs and Xvfb, obs first, each by its process id: asked to quit, then
# after five seconds told to.
obs_studio_stop() {
  local index pid state
  for ((index = ${#obs_studio_pids[@]} - 1; index >= 0; index--)); do
    pid="${obs_studio_pids[index]}"
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do
      state="$(ps -o stat= -p "$pid" 2>/dev/null || true)"
      [ -z "$state" ] || [[ $state == Z* ]] && break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  obs_studio_pids=()
}
