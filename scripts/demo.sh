#!/usr/bin/env bash
# The main job: find and mark the faces of a photograph, then compare two
# photographs of faces. Output goes to /tmp/morvik-demo.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
photos=${MORVIK_TESTDATA:-$repo/../shared/testdata}
out=/tmp/morvik-demo
mkdir -p "$out"

morvik version
morvik annotate "$photos/faces/two_people.jpg" "$out/two_people_faces.png"
echo "Annotated photo: $out/two_people_faces.png"
morvik faces "$photos/faces/two_people.jpg"
morvik compare "$photos/people/obama/obama.jpg" "$photos/people/obama/obama2.jpg"
morvik compare "$photos/people/obama/obama.jpg" "$photos/people/biden/biden.jpg"
# The query photo's face against the closest face of a group photo.
morvik compare --best "$photos/people/biden/biden2.jpg" "$photos/faces/two_people.jpg"
