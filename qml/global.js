.pragma library

// Name of the last saved file, without its folder.
var filename = ""

// Progress counter of the download timer. Never set back to 0: it carries over from one
// download to the next.
var i = 0

// The current time as toISOString gives it (UTC, with milliseconds), colons removed because
// Windows forbids them in file names.
function getISODateFileString() {
    return new Date().toISOString().replace(/:/g, "")
}
