# For those who have make: the same jobs as ./treelan.sh, which needs no make.
BUILD    ?= build
JOBS     ?= 2
FOLDER   ?= .
OUTPUT   ?= treelan-export.mht
export BUILD JOBS

.PHONY: all build run test deb asan tsan bench fuzz format clean

all: build

build:
	./treelan.sh build

run:
	./treelan.sh run $(FOLDER) $(OUTPUT)

test:
	./treelan.sh test

deb:
	./treelan.sh deb

asan:
	./treelan.sh asan

tsan:
	./treelan.sh tsan

bench:
	./treelan.sh bench $(BENCH_ARGS)

fuzz:
	./treelan.sh fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
