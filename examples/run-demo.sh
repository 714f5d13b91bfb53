#!/bin/sh
# The main job on the sample node; the statistics converter is not built yet.
echo "demo: nothing to run yet"
