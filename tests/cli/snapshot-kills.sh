echo "skip - kills (to come)"
