# The application's bundle: resources/ beside the binary, with Info.json generated from the
# build options. Filled in with the first resources.
