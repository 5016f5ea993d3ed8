# The two set-up commands of README.md.
.PHONY: demo test
demo:
	scripts/demo.sh
test:
	scripts/test.sh
