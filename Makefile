# The two commands a new user needs; each installs what is missing first.
.PHONY: all deps build test run fuzz bench screenshots release clean

all: build

deps:
	scripts/install-deps.sh

build: deps
	cmake --preset windows
	cmake --build --preset windows

test: deps
	scripts/test.sh

run: deps
	scripts/run.sh

fuzz: deps
	scripts/fuzz.sh 60

bench: deps
	scripts/bench.sh

screenshots: deps
	scripts/screenshots.sh

# make release PAYLOAD_EXE=/path/to/wdi-simple.exe [SIGN_PFX=... SIGN_PASSWORD_FILE=...
# SIGN_TIMESTAMP_URL=...]: the program for publication in dist/ (README, "Making a release").
release: deps
	scripts/release.sh

clean:
	rm -rf build dist
