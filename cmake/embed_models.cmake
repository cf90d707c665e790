# Embeds every models/*.eisnn into the core library as a byte array.
# Sets VORLANE_MODEL_SOURCES to the generated sources.
set(VORLANE_MODEL_SOURCES "")
