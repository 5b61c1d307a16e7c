# Replaces TO/corpus with a copy of the seed corpus FROM, so that every run starts from the
# seeds alone and never writes into the source tree.
file(REMOVE_RECURSE ${TO})
file(MAKE_DIRECTORY ${TO})
file(COPY ${FROM}/ DESTINATION ${TO}/corpus)
